// Registration of the communications control's module: the class, its
// ProgIDs, its type library and its property-page classes, written into
// and removed from the registry stand-in's classes root.
#pragma once

#include "qel_comm.h"

#include <cstdint>
#include <string>

namespace qelcomm::control {

inline constexpr const char* kClassId = "{F01D4A9E-12D9-4A32-8686-F5DABE9862D8}";
inline constexpr const char* kTypeLibId = "{855B7412-7287-4EDE-B988-229B11283C0D}";
inline constexpr const char* kCommunicationsPageId = "{2F575AC8-7925-45CA-84D8-AB9E129AE76C}";
inline constexpr const char* kCommSpyPageId = "{C6A7B5CF-9E44-44AF-873F-1137733A6996}";
inline constexpr const char* kTerminalPageId = "{48CDEA02-9C87-4B0D-95E1-EB9DB9EAE5A5}";
inline constexpr const char* kAboutPageId = "{66C5A2F5-8D99-4AEA-A9A3-D090F11ABD2A}";
inline constexpr const char* kVersionIndependentProgId = "Qel.CommControl";
inline constexpr const char* kClassName = "Qel Comm 6 Control";

// The work of DllRegisterServer and DllUnregisterServer for the module
// file given: 0, or SELFREG_E_TYPELIB / SELFREG_E_CLASS.
QELCOMM_CONTROL_API std::int32_t RegisterServer(const std::string& moduleFile);
QELCOMM_CONTROL_API std::int32_t UnregisterServer();
// Controls of this module alive now (DllCanUnloadNow's answer).
void NoteControlCreated();
void NoteControlDestroyed();
QELCOMM_CONTROL_API int LiveControls();

}  // namespace qelcomm::control

// The module's self-registration entry points, looked up by name.
extern "C" QELCOMM_CONTROL_API std::int32_t DllRegisterServer();
extern "C" QELCOMM_CONTROL_API std::int32_t DllUnregisterServer();
// 0 (S_OK) when no control of the module is alive, else 1 (S_FALSE).
extern "C" QELCOMM_CONTROL_API std::int32_t DllCanUnloadNow();
