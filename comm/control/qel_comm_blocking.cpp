// The members that can wait while pumping the thread's messages: Input,
// LineInput, LookUp, Output, OutputLine and OutputModem. A container's event
// handler can run inside such a wait and call the control again, so each of
// them holds the control's one "busy" slot while it runs; a second blocking
// member called meanwhile is refused. The control may even be destroyed by
// such a handler: every wait is followed by a liveness check before the
// control is touched again.
#include "qel_comm.h"

#include "comm_object.h"
#include "control_access.h"
#include "control_guard.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qelcomm::control {
namespace {

constexpr std::int32_t kMaxInput = 1048576;
constexpr std::int32_t kLineBufferSize = 1024;
constexpr std::uint32_t kInputPassMs = 50;

std::string format2(const char* pattern, const std::string& a, const std::string& b = {})
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, a.c_str(), b.c_str());
    return text;
}

constexpr const char* kAutoReceiveText = "Cannot access the %s property while AutoReceive is True.";
constexpr const char* kOutputFailedText =
    "Cannot write to the communications port.  Increase the value of the OutTimeOut property.";
constexpr const char* kOutputLineFailedText =
    "The OutputBuffer is full.  Increase the value of the OutTimeOut property.";

}  // namespace

ErrorInfo CQelComm::checkAutoReceive(const char* member)
{
    if (m_autoProcess & AutoProcess_Receive)
        return fail(kErrorBlocked, format2(kAutoReceiveText, member));
    return ErrorInfo{};
}

ErrorInfo CQelComm::Input(std::string& out) { return input("Input", out); }
ErrorInfo CQelComm::ComInput(std::string& out) { return input("ComInput", out); }
ErrorInfo CQelComm::LineInput(std::string& out) { return lineInput("LineInput", out); }
ErrorInfo CQelComm::ComLineInput(std::string& out) { return lineInput("ComLineInput", out); }

ErrorInfo CQelComm::input(const char* member, std::string& out)
{
    out.clear();
    if (ErrorInfo e = checkAutoReceive(member); e.failed())
        return e;
    Guard guard(*this, member);
    if (guard.refused())
        return guard.error();

    const QcHandle object = m_hObject;
    std::int32_t n = 0;
    if (m_inputLen == 0) {
        n = ::GetInBufferCount(object);
    } else {
        const std::int32_t wanted = m_inputLen;
        const std::uint32_t deadline = win::tickCount() + ::GetInputTimeOut(object);
        while (::GetInBufferCount(object) < wanted && !win::tickReached(win::tickCount(), deadline) &&
               !::GetShutDown(object)) {
            int exitCode = 0;
            if (!win::pumpMessages(&exitCode))
                win::postQuitMessage(exitCode);  // the outer loop still has to see the quit
            if (!guard.alive() || !qelcomm::isObject(object))
                return ErrorInfo{};
            win::sleepMs(kInputPassMs);
        }
        n = std::min(wanted, ::GetInBufferCount(object));
    }
    if (n < 0 || n > kMaxInput)
        return ok();
    std::vector<char> buffer(std::size_t(n) + 1, 0);
    const std::int32_t got = n > 0 ? ::GetInput(object, buffer.data(), n) : 0;
    if (!guard.alive())
        return ErrorInfo{};
    // Only the bytes actually delivered: a short read must not pad the text.
    out.assign(buffer.data(), std::size_t(std::clamp(got, 0, n)));
    return ok();
}

ErrorInfo CQelComm::lineInput(const char* member, std::string& out)
{
    out.clear();
    if (ErrorInfo e = checkAutoReceive(member); e.failed())
        return e;
    Guard guard(*this, member);
    if (guard.refused())
        return guard.error();
    char buffer[kLineBufferSize] = {};
    ::GetLineInput(m_hObject, buffer, kLineBufferSize);
    if (!guard.alive())
        return ErrorInfo{};
    out = buffer;
    return ok();
}

ErrorInfo CQelComm::Output(const std::string& bytes) { return write(bytes, false); }
ErrorInfo CQelComm::OutputLine(const std::string& bytes) { return write(bytes, true); }

ErrorInfo CQelComm::write(const std::string& bytes, bool withCarriageReturn)
{
    m_writeUntraced = true;
    Guard guard(*this, withCarriageReturn ? "OutputLine" : "Output");
    if (guard.refused())
        return guard.error();
    const QcHandle object = m_hObject;
    if (!::GetPortOpen(object))
        return ok();
    m_writeUntraced = false;
    bool written = ::Output(object, bytes.data(), std::int32_t(bytes.size())) != 0;
    if (!guard.alive())
        return ErrorInfo{};
    if (withCarriageReturn && written) {
        const char cr = 13;
        written = ::Output(object, &cr, 1) != 0;
        if (!guard.alive())
            return ErrorInfo{};
    }
    if (!written)
        return fail(kErrorWriteFailed, withCarriageReturn ? kOutputLineFailedText : kOutputFailedText);
    return ok();
}

ErrorInfo CQelComm::LookUp(std::int32_t& index)
{
    index = -1;
    if (ErrorInfo e = checkAutoReceive("LookUp"); e.failed())
        return e;
    Guard guard(*this, "LookUp");
    if (guard.refused())
        return guard.error();

    // The strings to look for, each ended by a zero byte, the list by an
    // empty string.
    std::string list = m_lookUpText;
    if (m_lookUpSeparator != '\0')
        std::replace(list.begin(), list.end(), m_lookUpSeparator, '\0');
    list.append(2, '\0');

    const QcHandle object = m_hObject;
    ::SetLookUpTimeOut(object, std::uint32_t(m_lookUpTimeOut));
    if (m_lookUpInputLen > 0) {
        const std::int32_t length = std::min(m_lookUpInputLen, kMaxInput);
        std::vector<char> buffer(std::size_t(length) + 1, 0);
        index = ::InputUntilLookUp(object, list.data(), buffer.data(), length);
        if (!guard.alive())
            return ErrorInfo{};
        m_lookUpInput = buffer.data();
    } else {
        index = ::DiscardUntilLookUp(object, list.data());
        if (!guard.alive())
            return ErrorInfo{};
    }
    return ok();
}

ErrorInfo CQelComm::OutputModem(const std::string& text)
{
    Guard guard(*this, "OutputModem");
    if (guard.refused())
        return guard.error();
    ::OutputModem(m_hObject, text.c_str());
    if (!guard.alive())
        return ErrorInfo{};
    return ok();
}

}  // namespace qelcomm::control
