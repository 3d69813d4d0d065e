// RFC 2217 (Telnet COM port control) on a session's TCP side, with the
// Rfc2217 setting on. Each socket gets a codec of its own: in the server
// role a client negotiates, its SET commands change the session's port
// and are answered with the value in force, and it is told of modem-line
// and line-state changes as its masks ask; in the client role the session
// negotiates with the remote server, sends the port's settings at connect
// and, on a virtual port, every change the program there makes, while the
// remote modem lines drive the virtual port's CTS, DSR, DCD and RING.
// Data passes with 255 doubled; the ten-byte break marker is not used.
#pragma once

#include "rfc2217/codes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lintrel {

class Session;

class ComPortControl {
public:
    explicit ComPortControl(Session& session);
    ~ComPortControl();
    ComPortControl(const ComPortControl&) = delete;
    ComPortControl& operator=(const ComPortControl&) = delete;

    // Forgets every socket's codec; at activation the port is as new.
    void reset();

    // The socket at index was accepted (server role) or connected (client
    // role): a fresh codec opens the negotiation. Closed: its codec goes.
    void accepted(int index);
    void connected(int index);
    void closed(int index);

    // Bytes socket index received: negotiation and commands are handled
    // here (answers go back at once), the data is returned. A client whose
    // data may not reach the port (the routing options) may ask, but its
    // SET commands change nothing.
    std::string fromSocket(int index, const std::string& bytes, bool mayWrite);
    // Data for socket index, 255 doubled.
    void send(int index, const std::string& data);

    // Comm1's events (modem lines, line errors) and the session tick: the
    // clients hear of changes.
    void commEvent(std::int32_t code);
    void tick();

    // What the program on the virtual port did.
    void programBaud(std::uint32_t baud);
    void programLine(std::int32_t stopBits, std::int32_t parity, std::int32_t wordLength);
    void programHandflow(std::int32_t controlHandShake, std::int32_t flowReplace);
    void programDtr(bool on);
    void programRts(bool on);
    void programOpen(bool opened);

    // A port's line settings as the wire has them.
    struct Line {
        std::uint32_t baud = 9600;
        std::uint8_t dataSize = 8;
        rfc2217::Parity parity = rfc2217::Parity::None;
        rfc2217::StopSize stop = rfc2217::StopSize::One;
        rfc2217::Control flow = rfc2217::Control::FlowNone;
    };

private:
    class Peer;
    class ServerPeer;
    class ClientPeer;
    friend class ServerPeer;
    friend class ClientPeer;

    Peer* peer(int index);
    void flush(int index);
    bool virtualPort() const;
    Line inForce();
    std::uint8_t modemLines();
    void notifyModem();
    void applySettings(const std::string& text);
    void settle();
    void keepLines();

    // The port side of a client's commands (server role).
    std::uint32_t setBaud(std::uint32_t asked, bool mayWrite);
    std::uint8_t setDataSize(std::uint8_t asked, bool mayWrite);
    rfc2217::Parity setParity(rfc2217::Parity asked, bool mayWrite);
    rfc2217::StopSize setStop(rfc2217::StopSize asked, bool mayWrite);
    rfc2217::Control setControl(rfc2217::Control asked, bool mayWrite);
    void purge(rfc2217::Purge what, bool mayWrite);
    // The remote port's modem lines (client role).
    void remoteModem(std::uint8_t state);
    // Sends a change of the program's settings to the remote port.
    ClientPeer* remote();

    Session& m_s;
    std::vector<std::unique_ptr<Peer>> m_peers;   // by socket index; null: none
    Line m_program;                     // the virtual port's settings, as its program made them
    bool m_programOpen = false;
    bool m_programDtr = true, m_programRts = true;
    bool m_dtr = true, m_rts = true, m_break = false;   // the port's outputs as clients set them
    bool m_ring = false;
    int m_appliedModem = -1;            // remote lines last put on the virtual port; -1 none yet
};

}  // namespace lintrel
