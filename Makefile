# Set-up and entry points. Both targets install missing Debian packages first,
# then configure and build incrementally in build/.
# SANITIZE=address,undefined or SANITIZE=thread builds into a folder of its
# own (build-address-undefined, build-thread) and runs the tests there.
SANITIZE ?=
ifeq ($(SANITIZE),)
BUILD_DIR ?= build
else
comma := ,
BUILD_DIR ?= build-$(subst $(comma),-,$(SANITIZE))
# Leak checking is off: Qt and GLib keep allocations for the process's life.
# Programs the tests build or run against the library (a C example, Python
# through ctypes) are not instrumented: the runtime is preloaded for them.
# QProcess forks a threaded test program to start its peers; the child only
# execs, so the thread sanitizer may let it go on (die_after_fork=0).
ASAN_RUNTIME := $(if $(findstring address,$(SANITIZE)),LD_PRELOAD=$(shell gcc -print-file-name=libasan.so))
SANITIZER_ENV := $(ASAN_RUNTIME) ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=suppressions=$(CURDIR)/tools/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0
endif
JOBS ?= 2
PACKAGES := cmake g++ make qt6-base-dev qt6-qpa-plugins libgl-dev libgtest-dev libgmock-dev \
            socat python3-serial ser2net lrzsz picocom ckermit gkermit pkg-config \
            xvfb openbox xdotool x11-utils libqt6svg6 \
            libsystemd-dev libudev-dev scdoc dpkg-dev lintian libssl-dev openssl

.PHONY: all deps configure build run test install deb lintian clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINTREL_SANITIZE=$(SANITIZE)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# With a display the main window opens on the demo configuration; without
# one the same sessions run windowless until Ctrl+C.
DEMO := $(CURDIR)/examples/demo.qcf
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD_DIR)/bin/lintrel "$(DEMO)"; \
	else \
	  echo "No display: running without windows (Ctrl+C stops)."; \
	  $(BUILD_DIR)/bin/lintrel --headless "$(DEMO)"; \
	fi

test: build
	cd $(BUILD_DIR) && $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 300

# Installs programs, libraries, headers, pkg-config and CMake package files
# under PREFIX (make install PREFIX=~/.local).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# Debian packages (lintrel, libqelcomm6-6, libqelcomm6-dev) in build/deb/.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB -B $(abspath $(BUILD_DIR))/deb
	@ls -1 $(BUILD_DIR)/deb/*.deb

lintian: deb
	lintian --info --display-info $(BUILD_DIR)/deb/*.deb

clean:
	rm -rf $(BUILD_DIR)
