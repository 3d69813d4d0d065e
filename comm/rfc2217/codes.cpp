#include "codes.h"

namespace rfc2217 {

ControlGroup controlGroup(Control c)
{
    switch (c) {
    case Control::BreakQuery:
    case Control::BreakOn:
    case Control::BreakOff:
        return ControlGroup::Break;
    case Control::DtrQuery:
    case Control::DtrOn:
    case Control::DtrOff:
        return ControlGroup::Dtr;
    case Control::RtsQuery:
    case Control::RtsOn:
    case Control::RtsOff:
        return ControlGroup::Rts;
    case Control::InboundFlowQuery:
    case Control::InboundFlowNone:
    case Control::InboundFlowXonXoff:
    case Control::InboundFlowHardware:
    case Control::InboundFlowDtr:
        return ControlGroup::InboundFlow;
    default:
        return ControlGroup::Flow;
    }
}

bool isQuery(Control c)
{
    return c == Control::FlowQuery || c == Control::BreakQuery || c == Control::DtrQuery
        || c == Control::RtsQuery || c == Control::InboundFlowQuery;
}

}  // namespace rfc2217
