#include "qel_comm_register.h"

#include "registry/server_registration.h"

#include <atomic>
#include <vector>

namespace qelcomm::control {
namespace {

namespace reg = lt::registry;

std::atomic<int> g_liveControls{0};

struct PageClass {
    const char* id;
    const char* name;
};

constexpr PageClass kPages[] = {
    {kCommunicationsPageId, "Qel Comm 6 Communications Property Page"},
    {kCommSpyPageId, "Qel Comm 6 CommSpy Property Page"},
    {kTerminalPageId, "Qel Comm 6 Terminal Property Page"},
    {kAboutPageId, "Qel Comm 6 About Property Page"},
};

std::vector<reg::ClassEntry> classEntries(const std::string& module)
{
    const std::string clsid = std::string("CLSID\\") + kClassId;
    std::vector<reg::ClassEntry> e = {
        {kProgId, "", kClassName},
        {std::string(kProgId) + "\\CLSID", "", kClassId},
        {std::string(kProgId) + "\\Insertable", "", std::nullopt},
        {kVersionIndependentProgId, "", kClassName},
        {std::string(kVersionIndependentProgId) + "\\CLSID", "", kClassId},
        {std::string(kVersionIndependentProgId) + "\\CurVer", "", kProgId},
        {clsid, "", kClassName},
        {clsid + "\\ProgID", "", kProgId},
        {clsid + "\\VersionIndependentProgID", "", kVersionIndependentProgId},
        {clsid + "\\InprocServer32", "", module},
        {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {clsid + "\\Programmable", "", std::nullopt},
        {clsid + "\\Control", "", std::nullopt},
        {clsid + "\\Insertable", "", std::nullopt},
        {clsid + "\\ToolboxBitmap32", "", module + ", 101"},
        {clsid + "\\MiscStatus", "", "0"},
        {clsid + "\\MiscStatus\\1", "", "131473"},
        {clsid + "\\Verb\\0", "", "&Properties...,0,2"},
        {clsid + "\\TypeLib", "", kTypeLibId},
        {clsid + "\\Version", "", "1.0"},
    };
    for (const PageClass& p : kPages) {
        const std::string key = std::string("CLSID\\") + p.id;
        e.push_back({key, "", p.name});
        e.push_back({key + "\\InprocServer32", "", module});
        e.push_back({key + "\\InprocServer32", "ThreadingModel", "Apartment"});
    }
    return e;
}

std::vector<std::string> classKeys()
{
    std::vector<std::string> keys = {kProgId, kVersionIndependentProgId, std::string("CLSID\\") + kClassId};
    for (const PageClass& p : kPages)
        keys.push_back(std::string("CLSID\\") + p.id);
    return keys;
}

}  // namespace

std::int32_t RegisterServer(const std::string& moduleFile)
{
    return reg::registerServer(kTypeLibId, "QelComm6 Control Library", moduleFile, classEntries(moduleFile));
}

void NoteControlCreated() { ++g_liveControls; }
void NoteControlDestroyed() { --g_liveControls; }
int LiveControls() { return g_liveControls.load(); }

std::int32_t UnregisterServer()
{
    return reg::unregisterServer(kTypeLibId, classKeys());
}

}  // namespace qelcomm::control

extern "C" std::int32_t DllRegisterServer()
{
    return qelcomm::control::RegisterServer(
        lt::registry::moduleFileOf(reinterpret_cast<const void*>(&qelcomm::control::RegisterServer)));
}

extern "C" std::int32_t DllUnregisterServer() { return qelcomm::control::UnregisterServer(); }

extern "C" std::int32_t DllCanUnloadNow() { return qelcomm::control::LiveControls() == 0 ? 0 : 1; }
