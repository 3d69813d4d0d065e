// Event sinks that forward the events of Comm1 and Kelvad1 a session
// handles to its handlers.
#pragma once

#include "session.h"

#include "automation/automation.h"
#include "kelvad_ctrl.h"
#include "qel_comm.h"

namespace lintrel {

// Forwards the events of Comm1 that the session handles.
class Session::CommSink : public lt::automation::EventSink {
public:
    explicit CommSink(Session& s) : m_session(s) {}
    void onEvent(std::int32_t dispid, lt::automation::Args&) override
    {
        if (dispid == qelcomm::control::EventId::OnComm)
            m_session.Comm1_OnComm();
    }

private:
    Session& m_session;
};

// Forwards the events of Kelvad1 that the session handles.
class Session::KelvadSink : public lt::automation::EventSink {
public:
    explicit KelvadSink(Session& s) : m_session(s) {}
    void onEvent(std::int32_t dispid, lt::automation::Args& args) override
    {
        if (dispid == kelvad::DISPID_OnRxChar)
            m_session.Kelvad1_OnRxChar(args.empty() ? 0 : args[0]->toInt32().value_or(0));
        else if (dispid == kelvad::DISPID_OnOpenClose)
            m_session.Kelvad1_OnOpenClose(!args.empty() && args[0]->toBool());
        else if (dispid == kelvad::DISPID_OnBaudRate)
            m_session.Kelvad1_OnBaudRate(arg(args, 0));
        else if (dispid == kelvad::DISPID_OnLineControl)
            m_session.Kelvad1_OnLineControl(arg(args, 0), arg(args, 1), arg(args, 2));
        else if (dispid == kelvad::DISPID_OnHandflow)
            m_session.Kelvad1_OnHandflow(arg(args, 0), arg(args, 1));
        else if (dispid == kelvad::DISPID_OnDTR)
            m_session.Kelvad1_OnDTR(!args.empty() && args[0]->toBool());
        else if (dispid == kelvad::DISPID_OnRTS)
            m_session.Kelvad1_OnRTS(!args.empty() && args[0]->toBool());
    }

private:
    static std::int32_t arg(lt::automation::Args& args, std::size_t i)
    {
        return i < args.size() ? args[i]->toInt32().value_or(0) : 0;
    }

    Session& m_session;
};

}  // namespace lintrel
