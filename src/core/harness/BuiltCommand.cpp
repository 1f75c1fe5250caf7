#include "harness/BuiltCommand.h"

namespace marrowbell {

std::string BuiltCommand::displayString() const {
    auto quoted = [](const std::string& element) {
        return element.find(' ') == std::string::npos ? element : "\"" + element + "\"";
    };
    std::string text = quoted(executable.filename().string());
    for (const std::string& argument : arguments)
        text += " " + quoted(argument);
    return text;
}

} // namespace marrowbell
