#pragma once

#include "base/Json.h"
#include "run/OutputChannel.h"

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace marrowbell {

// The control channel cannot be used: no private folder for its socket, a scheduler
// that does not answer, an answer that makes no sense. The text is the message.
struct ControlError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The wire format of the control channel: newline-delimited JSON objects over a Unix
// stream socket, each with "version". Requests carry "request"; the server answers
// with "reply" objects and "event" objects, or one "error" object (then it closes).
// Instants are seconds since 2001-01-01 UTC, as in the stored files; identifiers are
// upper-case UUIDs.
struct ControlProtocol {
    static constexpr int version = 1;
    // A request line longer than this is refused and the connection closed.
    static constexpr std::size_t requestLimit = 64 * 1024;

    // $XDG_RUNTIME_DIR/marrowbell/control; without XDG_RUNTIME_DIR
    // {temporary folder}/marrowbell-{uid}/control. The folder is created with mode 0700
    // and must be a folder of this user's that nobody else may enter. Throws
    // ControlError when it is not.
    static std::filesystem::path socketPath();

    // One message as a line: the object with "version" added, then a newline.
    static std::string line(Json message);
    // Appends the line of an "output" event: {"version":1,"event":"output",
    // "stream":…,"line":…} — written by hand, since it runs for every line of output.
    static void appendOutputEvent(std::string& out, OutputChannel channel, std::string_view text);
    // Appends `text` as a JSON string, quotes included; invalid UTF-8 is repaired.
    static void appendString(std::string& out, std::string_view text);
    // Reads a line (without its newline) that `appendOutputEvent` wrote, without building
    // a Json: every line of output arrives this way, so the client must keep up with a
    // harness. False for any other line, or one this reader is not sure of (a \u escape
    // of a surrogate, raw bytes that are not UTF-8, control characters): a full parse
    // decides those, and for every line this accepts it would give the same.
    static bool decodeOutputEvent(std::string_view line, OutputChannel& channel, std::string& text);
};

} // namespace marrowbell
