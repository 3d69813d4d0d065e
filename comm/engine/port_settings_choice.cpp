#include "port_settings_choice.h"

#include "comm_object.h"
#include "companion.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace qelcomm {
namespace {

PortSettingsDialogRunner g_runner = nullptr;

template <typename T, std::size_t N>
int indexOf(const T (&values)[N], T value)
{
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == value)
            return int(i);
    return -1;
}

}  // namespace

PortSettingsChoice currentPortSettingsChoice(QcHandle object)
{
    PortSettingsChoice c;
    char text[32] = {};
    if (GetSettings(object, text) <= 0)
        return c;
    // "baud,parity,data,stop" as GetSettings writes it.
    const std::int32_t baud = std::atoi(text);
    const int b = indexOf(kBauds, baud);
    c.baud = kBaudIds[b >= 0 ? b : int(std::size(kBaudIds)) - 1];
    const std::string s(text);
    const std::size_t p1 = s.find(',');
    const std::size_t p2 = p1 == std::string::npos ? p1 : s.find(',', p1 + 1);
    const std::size_t p3 = p2 == std::string::npos ? p2 : s.find(',', p2 + 1);
    if (p1 != std::string::npos && p1 + 1 < s.size())
        if (int i = indexOf(kParityLetters, s[p1 + 1]); i >= 0)
            c.parity = kParityIds[i];
    if (p2 != std::string::npos && p2 + 1 < s.size()) {
        const int bits = s[p2 + 1] - '0';
        if (bits >= 5 && bits <= 8)
            c.dataBits = kDataBitsIds[bits - 5];
    }
    if (p3 != std::string::npos)
        for (std::size_t i = 0; i < std::size(kStopBitsTexts); ++i)
            if (s.substr(p3 + 1) == kStopBitsTexts[i])
                c.stopBits = kStopBitsIds[i];
    const std::int32_t h = GetHandshaking(object);
    c.handshaking = h == 1 ? 51 : (h == 2 || h == 3) ? 52 : 53;
    return c;
}

std::string composePortSettings(const PortSettingsChoice& c)
{
    const int b = indexOf(kBaudIds, c.baud);
    const int p = indexOf(kParityIds, c.parity);
    const int d = indexOf(kDataBitsIds, c.dataBits);
    const int st = indexOf(kStopBitsIds, c.stopBits);
    char text[64];
    std::snprintf(text, sizeof text, "%ld,%c,%d,%s", long(kBauds[b >= 0 ? b : 3]), kParityLetters[p >= 0 ? p : 0],
                  d >= 0 ? d + 5 : 8, kStopBitsTexts[st >= 0 ? st : 0]);
    return text;
}

std::int32_t applyPortSettingsChoice(QcHandle object, const PortSettingsChoice& c)
{
    const std::int32_t result = SetSettings(object, composePortSettings(c).c_str());
    const int h = indexOf(kHandshakingIds, c.handshaking);
    SetHandshaking(object, kHandshakingValues[h >= 0 ? h : 2]);
    return result;
}

QELCOMM_CPP_API void SetPortSettingsDialogRunner(PortSettingsDialogRunner runner) { g_runner = runner; }

}  // namespace qelcomm

QELCOMM_API std::int32_t PortSettingsDialog(QcHandle object, QcHandle parent)
{
    if (!qelcomm::resolve(object))
        return 0;
    // Without a runner installed, the dialog's library is looked for.
    qelcomm::PortSettingsDialogRunner run = qelcomm::g_runner;
    if (!run)
        run = reinterpret_cast<qelcomm::PortSettingsDialogRunner>(
            qelcomm::companionSymbol(QELCOMM6_PORT_DIALOG_LIBRARY, "qelcomm6PortSettingsDialog"));
    return run ? run(object, parent) : 0;
}
