// The control's modem members over the engine's dialer: the dial with its
// result text and status window, hang-up, the modem commands, the dial
// settings and the modem's title and command strings. Each member keeps its
// stored copy (what the apply step pushes and a save writes).
#include "qel_comm_modem.h"

#include "control_access.h"
#include "control_guard.h"
#include "modem_options.h"
#include "qelcomm_modem.h"

#include <algorithm>
#include <atomic>
#include <tuple>
#include <vector>

namespace qelcomm::control {
namespace {

using lt::automation::DispatchTable;
using lt::automation::Variant;
namespace M = MemberId;
namespace mo = qelcomm::modem;

std::atomic<DialStatusFactory> g_dialStatusFactory{nullptr};
std::atomic<ModemBoxFiller> g_modemBoxFiller{nullptr};

constexpr const char* kDialingText = "Dialing...";

ErrorInfo typeMismatch()
{
    return ErrorInfo{lt::automation::kTypeMismatch, 13, "Type mismatch", kProgId};
}

// The member of each settings field.
constexpr struct {
    std::int32_t id;
    const char* name;
    mo::ModemField field;
} kFieldMembers[] = {
    {M::ModemTitle, "ModemTitle", mo::Field_Title},
    {M::ModemInitCommand, "ModemInitCommand", mo::Field_Init},
    {M::ModemDialToneCommand, "ModemDialToneCommand", mo::Field_DialTone},
    {M::ModemDialPulseCommand, "ModemDialPulseCommand", mo::Field_DialPulse},
    {M::ModemAnswerCommand, "ModemAnswerCommand", mo::Field_Answer},
    {M::ModemHangUpCommand, "ModemHangUpCommand", mo::Field_HangUp},
};

std::vector<std::string> engineFields(QcHandle o)
{
    std::string line(std::size_t(QC_MODEM_OPTIONS_SIZE), '\0');
    line.resize(std::size_t(std::max(::GetModemOptions(o, line.data()), 0)));
    return mo::parseFields(line);
}

void setEngineFields(QcHandle o, const std::vector<std::string>& fields)
{
    ::SetModemOptions(o, mo::formatFields(fields).c_str());
}

// A control character in a written command would split it into two
// fields and shift the rest; such characters are left out.
std::string withoutSeparators(const std::string& text)
{
    std::string s;
    for (char ch : text)
        if (static_cast<unsigned char>(ch) >= 32)
            s += ch;
    return s;
}

}  // namespace

void SetDialStatusFactory(DialStatusFactory factory) { g_dialStatusFactory = factory; }
void SetModemBoxFiller(ModemBoxFiller filler) { g_modemBoxFiller = filler; }

std::string DialResultText(std::int32_t result)
{
    switch (result) {
    case Dial_Connected: return "";
    case Dial_NoCarrier: return "No carrier";
    case Dial_NoDialTone: return "No dialtone";
    case Dial_Busy: return "Busy";
    case Dial_TimeOut: return "Time out";
    case Dial_Canceled: return "Canceled";
    default: return "Unexpected error";
    }
}

void ControlAccess::applyModem(CQelComm& c)
{
    const QcHandle o = c.m_hObject;
    ::SetDialMode(o, c.StoredProperty(M::DialMode).toInt32().value_or(0));
    ::SetDialTimeOut(o, std::uint32_t(c.StoredProperty(M::DialTimeOut).toInt32().value_or(0)));
    // The speed has no property: it stays as the object holds it.
    std::vector<std::string> fields = engineFields(o);
    fields.resize(std::max<std::size_t>(fields.size(), mo::Field_Speed + 1));
    for (const auto& m : kFieldMembers)
        fields[m.field] = c.StoredProperty(m.id).toString();
    setEngineFields(o, fields);
}

void ControlAccess::bindModem(CQelComm& c)
{
    CQelComm* p = &c;
    DispatchTable& t = c.m_dispatch;

    t.addProperty(
        M::Dial, "Dial", [p] { return Variant(p->StoredProperty(M::Dial).toString()); },
        [p](const Variant& v) {
            CQelComm::Guard guard(*p, "Dial");
            if (guard.refused())
                return guard.error();
            const std::string number = v.toString();
            const QcHandle o = p->m_hObject;
            p->m_stored[M::Dial] = Variant(kDialingText);
            std::unique_ptr<DialStatusWindow> window;
            const std::int32_t mode = p->StoredProperty(M::DialStatusDialog).toInt32().value_or(0);
            if (DialStatusFactory open = g_dialStatusFactory.load(); open && mode != 0)
                window = open(o, number, mode);
            const std::int32_t result = ::Dial(o, number.c_str());
            window.reset();
            if (!guard.alive())
                return ErrorInfo{};
            p->m_stored[M::Dial] = Variant(DialResultText(result));
            return p->ok();
        });

    // HangUp is not guarded: it is what cancels a Dial that holds the guard.
    t.addProperty(M::HangUp, "HangUp", [p] { return Variant::fromBool(::HangUp(p->m_hObject) > 0); });
    for (auto [id, name, run] : {std::tuple{M::InitModem, "InitModem", &::InitModem},
                                 {M::InitModemForAnswer, "InitModemForAnswer", &::InitModemForAnswer}})
        t.addCheckedProperty(id, name, [p, name = name, run = run](Variant& out) {
            CQelComm::Guard guard(*p, name);
            if (guard.refused())
                return guard.error();
            const bool ready = run(p->m_hObject) > 0;
            if (!guard.alive())
                return ErrorInfo{};
            out = Variant::fromBool(ready);
            return p->ok();
        });

    t.addProperty(
        M::DialMode, "DialMode", [p] { return Variant(::GetDialMode(p->m_hObject)); },
        [p](const Variant& v) {
            const auto i = v.toInt32();
            if (!i)
                return typeMismatch();
            p->m_stored[M::DialMode] = Variant(*i);
            ::SetDialMode(p->m_hObject, *i);
            return p->ok();
        });
    t.addProperty(
        M::DialTimeOut, "DialTimeOut", [p] { return Variant(std::int32_t(::GetDialTimeOut(p->m_hObject))); },
        [p](const Variant& v) {
            const auto i = v.toInt32();
            if (!i)
                return typeMismatch();
            p->m_stored[M::DialTimeOut] = Variant(*i);
            ::SetDialTimeOut(p->m_hObject, std::uint32_t(*i));
            return p->ok();
        });

    for (const auto& m : kFieldMembers)
        t.addProperty(
            m.id, m.name, [p, f = m.field] { return Variant(mo::field(engineFields(p->m_hObject), f)); },
            [p, id = m.id, f = m.field](const Variant& v) {
                const std::string text = withoutSeparators(v.toString());
                std::vector<std::string> fields = engineFields(p->m_hObject);
                fields.resize(std::max<std::size_t>(fields.size(), f + 1));
                fields[f] = text;
                setEngineFields(p->m_hObject, fields);
                p->m_stored[id] = Variant(text);
                return p->ok();
            });

    // Choosing an entry of the modem list loads its settings; an entry that
    // cannot be loaded changes nothing.
    t.addProperty(
        M::ModemIndex, "ModemIndex", [p] { return Variant(p->StoredProperty(M::ModemIndex).toInt32().value_or(0)); },
        [p](const Variant& v) {
            const auto i = v.toInt32();
            if (!i)
                return typeMismatch();
            if (::LoadModemOptions(p->m_hObject, *i)) {
                p->m_stored[M::ModemIndex] = Variant(*i);
                const std::vector<std::string> fields = engineFields(p->m_hObject);
                for (const auto& m : kFieldMembers)
                    p->m_stored[m.id] = Variant(mo::field(fields, m.field));
            }
            return p->ok();
        });

    for (auto [id, name, list] : {std::tuple{M::FillModemCombo, "FillModemCombo", false},
                                  {M::FillModemList, "FillModemList", true}})
        t.addCheckedProperty(id, name, {}, [p, list = list](const Variant& box) {
            if (ModemBoxFiller fill = g_modemBoxFiller.load())
                fill(p->m_hObject, box, list);
            return p->ok();
        });
}

}  // namespace qelcomm::control
