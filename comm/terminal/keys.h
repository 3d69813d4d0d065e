// The key table: what a cursor, editing, function or keypad key sends in
// each emulation.
#pragma once

#include <cstdint>
#include <string>

namespace qelcomm::terminal {

enum class Key {
    Left, Up, Right, Down, Backspace, Home, F1, F2, F3, F4,
    Keypad0, Keypad1, Keypad2, Keypad3, Keypad4, Keypad5, Keypad6, Keypad7, Keypad8, Keypad9,
    PageUp, PageDown,
};

struct KeyAction {
    enum Kind { Nothing, Send, ScrollPageUp, ScrollPageDown } kind = Nothing;
    std::string bytes;
};

// The table applies outside the TTY emulation; keypad digits send their
// sequence only while the keypad flag is off, else they are typed digits.
KeyAction keyAction(Key key, bool ctrl, std::int32_t emulation, bool keypadFlag);

}  // namespace qelcomm::terminal
