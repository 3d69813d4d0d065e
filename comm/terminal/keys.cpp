#include "keys.h"

#include "terminal_types.h"

namespace qelcomm::terminal {

KeyAction keyAction(Key key, bool ctrl, std::int32_t emulation, bool keypadFlag)
{
    auto send = [](std::string s) { return KeyAction{KeyAction::Send, std::move(s)}; };
    if (key == Key::PageUp)
        return {KeyAction::ScrollPageUp, {}};
    if (key == Key::PageDown)
        return {KeyAction::ScrollPageDown, {}};
    if (emulation == Emulation_TTY)
        return key == Key::Backspace ? send("\b") : KeyAction{};
    switch (key) {
    case Key::Left: return send("\x1b[D");
    case Key::Up: return send("\x1b[A");
    case Key::Right: return send("\x1b[C");
    case Key::Down: return send("\x1b[B");
    case Key::Backspace: return send("\b");
    case Key::Home:
        if (ctrl && emulation != Emulation_VT52)
            return send("\x1b[2J");
        return {};
    case Key::F1: return send("\x1bOP");
    case Key::F2: return send("\x1bOQ");
    case Key::F3: return send("\x1bOR");
    case Key::F4: return send("\x1bOS");
    default: break;
    }
    const int digit = int(key) - int(Key::Keypad0);
    if (digit >= 0 && digit <= 9) {
        if (keypadFlag)
            return send(std::string(1, char('0' + digit)));
        return send(std::string("\x1b?") + char('p' + digit));
    }
    return {};
}

}  // namespace qelcomm::terminal
