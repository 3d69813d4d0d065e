// Registration of the Kelvad module: the control class, its type library
// and its one property page, written into and removed from the registry
// stand-in's classes root.
#pragma once

#include <cstdint>
#include <string>

namespace kelvad {

inline constexpr const char* kClassId = "{C1641307-D5F6-4642-8C47-204CB414B4EE}";
inline constexpr const char* kTypeLibId = "{5CEED690-2A81-46F3-9A3D-F805D6ED3CCD}";
inline constexpr const char* kPropPageId = "{A3AD3111-423B-4EB9-A406-217051BE2CCF}";
inline constexpr const char* kProgId = "KELVAD.KelvadCtrl.1";
inline constexpr const char* kPropPageProgId = "KELVAD.KelvadPropPage.1";
inline constexpr const char* kUserTypeName = "Virtual Serial Port Control";            // string 1
inline constexpr const char* kPropPageName = "Virtual Serial Port Property Page";      // string 2
// set-client-site-first, invisible-at-run-time, inside-out, can't-link-inside,
// recompose-on-resize
inline constexpr std::uint32_t kMiscStatus = 0x00020491;

// The work of DllRegisterServer and DllUnregisterServer for the module
// file given: 0, 0x80040200 when the type library fails (then no class is
// registered), 0x80040201 when a class fails.
std::int32_t RegisterServer(const std::string& moduleFile);
std::int32_t UnregisterServer();
// Controls of this module alive now (DllCanUnloadNow's answer).
void NoteControlCreated();
void NoteControlDestroyed();
int LiveControls();

}  // namespace kelvad

// The module's self-registration entry points, looked up by name.
extern "C" std::int32_t DllRegisterServer();
extern "C" std::int32_t DllUnregisterServer();
// 0 (S_OK) when no control of the module is alive, else 1 (S_FALSE).
extern "C" std::int32_t DllCanUnloadNow();
