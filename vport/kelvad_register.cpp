#include "kelvad_register.h"

#include "registry/server_registration.h"

#include <atomic>
#include <vector>

namespace kelvad {
namespace {

namespace reg = lt::registry;

std::atomic<int> g_liveControls{0};

std::vector<reg::ClassEntry> classEntries(const std::string& module)
{
    const std::string control = std::string("CLSID\\") + kClassId;
    const std::string page = std::string("CLSID\\") + kPropPageId;
    return {
        {kProgId, "", kUserTypeName},
        {std::string(kProgId) + "\\CLSID", "", kClassId},
        {control, "", kUserTypeName},
        {control + "\\ProgID", "", kProgId},
        {control + "\\InprocServer32", "", module},
        {control + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {control + "\\ToolboxBitmap32", "", module + ", 1"},
        {control + "\\MiscStatus", "", "0"},
        {control + "\\MiscStatus\\1", "", std::to_string(kMiscStatus)},
        {control + "\\Control", "", std::nullopt},
        {control + "\\TypeLib", "", kTypeLibId},
        {control + "\\Version", "", "1.0"},
        {kPropPageProgId, "", kPropPageName},
        {std::string(kPropPageProgId) + "\\CLSID", "", kPropPageId},
        {page, "", kPropPageName},
        {page + "\\ProgID", "", kPropPageProgId},
        {page + "\\InprocServer32", "", module},
        {page + "\\InprocServer32", "ThreadingModel", "Apartment"},
    };
}

}  // namespace

std::int32_t RegisterServer(const std::string& moduleFile)
{
    return reg::registerServer(kTypeLibId, "KelvadLib", moduleFile, classEntries(moduleFile));
}

void NoteControlCreated() { ++g_liveControls; }
void NoteControlDestroyed() { --g_liveControls; }
int LiveControls() { return g_liveControls.load(); }

std::int32_t UnregisterServer()
{
    return reg::unregisterServer(kTypeLibId, {kProgId, kPropPageProgId, std::string("CLSID\\") + kClassId,
                                              std::string("CLSID\\") + kPropPageId});
}

}  // namespace kelvad

extern "C" __attribute__((visibility("default"))) std::int32_t DllRegisterServer()
{
    return kelvad::RegisterServer(lt::registry::moduleFileOf(reinterpret_cast<const void*>(&kelvad::RegisterServer)));
}

extern "C" __attribute__((visibility("default"))) std::int32_t DllUnregisterServer()
{
    return kelvad::UnregisterServer();
}

extern "C" __attribute__((visibility("default"))) std::int32_t DllCanUnloadNow()
{
    return kelvad::LiveControls() == 0 ? 0 : 1;
}
