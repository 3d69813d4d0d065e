// The modem settings' fields and the modem list file "MODEM.LST".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelcomm::modem {

enum ModemField : std::size_t {
    Field_Title = 0,
    Field_Init = 1,
    Field_DialTone = 2,
    Field_DialPulse = 3,
    Field_Answer = 4,
    Field_HangUp = 5,
    Field_Speed = 6,
};

inline constexpr const char* kDefaultModemEntry =
    "Hayes Compatible\tATX4E1V1S7=60&C1^M\tATDT\tATDP\tATS0=2^M\t~~+++~~ATH0^M\t14400\n";
inline constexpr std::size_t kMaxLineLength = 199;
inline constexpr const char* kModemListName = "MODEM.LST";

// Fields of a settings text: every character below 32 ends a field. Empty
// fields between others are kept; trailing empty ones are dropped.
std::vector<std::string> parseFields(std::string_view text);
// The fields joined with a tab after each.
std::string formatFields(const std::vector<std::string>& fields);
// One field, empty when there are fewer.
std::string field(const std::vector<std::string>& fields, ModemField which);

// The entries of a modem list file's bytes: a line ends at CR, LF bytes
// are skipped, a line longer than 199 characters is cut there and its rest
// is the next line, and an empty line (or the end of the bytes) ends the
// list. Element 0 is line 1 of the file (entry 1).
std::vector<std::string> splitModemList(std::string_view bytes);

// The folders searched for the list, in order: beside this library, beside
// the running program, $XDG_DATA_HOME/qelcomm6, each $XDG_DATA_DIRS/qelcomm6.
std::vector<std::string> modemListFolders();
// The entries of the first list that opens; nothing when none does. Each
// open attempt is noted in the open log.
std::optional<std::vector<std::string>> readModemList();
// The same over the given folders.
std::optional<std::vector<std::string>> readModemList(const std::vector<std::string>& folders);
// The open log: $XDG_STATE_HOME/qelcomm6/comlog32.txt, else
// ~/.local/state/qelcomm6/comlog32.txt.
std::string openLogPath();

}  // namespace qelcomm::modem
