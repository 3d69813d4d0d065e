#include "devices.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef LT_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace lt::devices {

namespace {

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

std::string realPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string readLink(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first line of a sysfs attribute, without its line end.
std::string attribute(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool isSerialName(const std::string& name)
{
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        const std::string p = prefix;
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            std::all_of(name.begin() + std::ptrdiff_t(p.size()), name.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return true;
    }
    return false;
}

// ttyACM0 < ttyS2 < ttyS10 < ttyUSB0: the letters, then the number.
bool nameOrder(const SerialDevice& a, const SerialDevice& b)
{
    auto split = [](const std::string& node) {
        const std::string name = baseName(node);
        std::size_t at = name.size();
        while (at > 0 && std::isdigit(static_cast<unsigned char>(name[at - 1])))
            --at;
        return std::make_pair(name.substr(0, at), at < name.size() ? std::atol(name.c_str() + at) : -1L);
    };
    return split(a.node) < split(b.node);
}

// by-id link targets: device node -> the link.
std::map<std::string, std::string> byIdNames(const std::string& devDir)
{
    std::map<std::string, std::string> names;
    const std::string dir = devDir + "/serial/by-id";
    std::vector<std::string> links = entries(dir);
    std::sort(links.begin(), links.end());
    for (const std::string& link : links) {
        const std::string target = realPath(dir + "/" + link);
        if (!target.empty() && !names.count(target))
            names[target] = dir + "/" + link;
    }
    return names;
}

// A port the driver registered with no hardware behind it.
bool phantom(const std::string& sysTty)
{
    const std::string type = attribute(sysTty + "/type");
    return baseName(sysTty).rfind("ttyS", 0) == 0 && type == "0";
}

// Driver and USB details from sysfs: the tty's device, then up its
// ancestors to the USB device that has the ids.
void fillFromSysfs(SerialDevice& d, const std::string& sysDir)
{
    const std::string tty = sysDir + "/class/tty/" + baseName(d.node);
    std::string dir = realPath(tty + "/device");
    // Newer kernels put the serial core's own port and controller devices
    // ("serial-base") between the tty and the device its driver serves.
    for (std::string at = dir; !at.empty() && at.size() > sysDir.size(); at = at.substr(0, at.rfind('/'))) {
        const std::string driver = readLink(at + "/driver");
        if (driver.find("/serial-base/") == std::string::npos) {
            d.driver = baseName(driver);
            break;
        }
    }
    const std::string top = realPath(sysDir);
    for (int depth = 0; !dir.empty() && dir.size() > top.size() && depth < 8; ++depth) {
        if (!attribute(dir + "/idVendor").empty()) {
            d.vendorId = attribute(dir + "/idVendor");
            d.productId = attribute(dir + "/idProduct");
            d.vendor = attribute(dir + "/manufacturer");
            d.product = attribute(dir + "/product");
            d.serial = attribute(dir + "/serial");
            return;
        }
        dir = dir.substr(0, dir.rfind('/'));
    }
}

#ifdef LT_HAVE_LIBUDEV
std::string text(const char* s)
{
    return s ? std::string(s) : std::string();
}

std::vector<SerialDevice> listWithUdev(const std::string& devDir)
{
    std::vector<SerialDevice> out;
    udev* u = udev_new();
    if (!u)
        return out;
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "tty");
    udev_enumerate_scan_devices(e);
    const std::map<std::string, std::string> byId = byIdNames(devDir);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
    {
        udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        if (!dev)
            continue;
        udev_device* parent = udev_device_get_parent(dev);
        const std::string node = text(udev_device_get_devnode(dev));
        // Consoles and pseudo-terminals have no device behind them.
        if (parent && !node.empty() && !phantom(text(udev_device_get_syspath(dev)))) {
            SerialDevice d;
            d.node = node;
            udev_device* owner = parent;
            while (owner && text(udev_device_get_subsystem(owner)) == "serial-base")
                owner = udev_device_get_parent(owner);
            d.driver = text(udev_device_get_driver(owner ? owner : parent));
            for (udev_list_entry* l = udev_device_get_devlinks_list_entry(dev); l;
                 l = udev_list_entry_get_next(l)) {
                const std::string link = text(udev_list_entry_get_name(l));
                if (link.rfind("/dev/serial/by-id/", 0) == 0 && d.byId.empty())
                    d.byId = link;
            }
            if (d.byId.empty() && byId.count(node))
                d.byId = byId.at(node);
            if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
                d.vendorId = text(udev_device_get_sysattr_value(usb, "idVendor"));
                d.productId = text(udev_device_get_sysattr_value(usb, "idProduct"));
                d.vendor = text(udev_device_get_sysattr_value(usb, "manufacturer"));
                d.product = text(udev_device_get_sysattr_value(usb, "product"));
                d.serial = text(udev_device_get_sysattr_value(usb, "serial"));
            }
            // udev's database has names for devices that carry none.
            if (d.vendor.empty())
                d.vendor = text(udev_device_get_property_value(dev, "ID_VENDOR_FROM_DATABASE"));
            if (d.product.empty())
                d.product = text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
            out.push_back(std::move(d));
        }
        udev_device_unref(dev);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    std::sort(out.begin(), out.end(), nameOrder);
    return out;
}
#endif

}  // namespace

bool udevBuilt()
{
#ifdef LT_HAVE_LIBUDEV
    return true;
#else
    return false;
#endif
}

bool udevRunning()
{
    struct stat st{};
    return ::stat("/run/udev/control", &st) == 0 || ::stat("/run/udev/data", &st) == 0;
}

std::vector<SerialDevice> listFromNames(const std::string& devDir, const std::string& sysDir)
{
    std::vector<SerialDevice> out;
    const std::map<std::string, std::string> byId = byIdNames(devDir);
    for (const std::string& name : entries(devDir)) {
        if (!isSerialName(name) || phantom(sysDir + "/class/tty/" + name))
            continue;
        SerialDevice d;
        d.node = devDir + "/" + name;
        const std::string real = realPath(d.node);
        if (byId.count(real))
            d.byId = byId.at(real);
        fillFromSysfs(d, sysDir);
        out.push_back(std::move(d));
    }
    std::sort(out.begin(), out.end(), nameOrder);
    return out;
}

namespace {

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// One pass over the processes' open files: for each wanted target (a
// resolved path), "name (pid)" of each process holding it, by pid.
std::map<std::string, std::vector<std::string>> holders(const std::vector<std::string>& targets,
                                                        const std::string& procDir)
{
    std::map<std::string, std::vector<std::string>> found;
    if (targets.empty())
        return found;
    std::vector<std::pair<long, std::string>> pids;
    for (const std::string& pid : entries(procDir))
        if (allDigits(pid))
            pids.emplace_back(std::atol(pid.c_str()), pid);
    std::sort(pids.begin(), pids.end());
    for (const auto& [number, pid] : pids) {
        const std::string fds = procDir + "/" + pid + "/fd";
        std::vector<std::string> seen;
        for (const std::string& fd : entries(fds)) {
            const std::string target = readLink(fds + "/" + fd);
            if (std::find(targets.begin(), targets.end(), target) != targets.end() &&
                std::find(seen.begin(), seen.end(), target) == seen.end())
                seen.push_back(target);
        }
        if (seen.empty())
            continue;
        std::string name = attribute(procDir + "/" + pid + "/comm");
        if (name.empty())
            name = "?";
        for (const std::string& t : seen)
            found[t].push_back(name + " (" + std::to_string(number) + ")");
    }
    return found;
}

}  // namespace

std::vector<std::string> openers(const std::string& path, const std::string& procDir)
{
    const std::string target = realPath(path);
    if (target.empty())
        return {};
    auto found = holders({target}, procDir);
    return found[target];
}

Listing listSerialDevices()
{
    Listing l;
#ifdef LT_HAVE_LIBUDEV
    if (udevRunning()) {
        l.devices = listWithUdev("/dev");
        l.fromUdev = true;
    } else {
        l.note = "udev does not run on this machine";
    }
#else
    l.note = "this build of Lintrel has no udev support";
#endif
    if (!l.fromUdev) {
        l.devices = listFromNames();
        l.note += ": ports are listed from /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*";
    }
    std::vector<std::string> targets;
    for (const SerialDevice& d : l.devices)
        targets.push_back(realPath(d.node));
    auto users = holders(targets, "/proc");
    for (std::size_t i = 0; i < l.devices.size(); ++i)
        l.devices[i].users = users[targets[i]];
    return l;
}

}  // namespace lt::devices
