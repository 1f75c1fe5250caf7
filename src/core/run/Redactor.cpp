#include "run/Redactor.h"

namespace marrowbell {

Redactor::Redactor(std::optional<std::string> secret) {
    if (secret && secret->size() >= shortestSecret)
        secret_ = std::move(*secret);
}

std::string Redactor::operator()(std::string_view text) const {
    if (secret_.empty())
        return std::string(text);
    std::string result;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(secret_, from)) != std::string_view::npos;
         from = at + secret_.size()) {
        result.append(text.substr(from, at - from));
        result.append(mark);
    }
    result.append(text.substr(from));
    return result;
}

std::string_view Redactor::apply(std::string_view text, std::string& storage) const {
    if (secret_.empty() || text.find(secret_) == std::string_view::npos)
        return text;
    storage = (*this)(text);
    return storage;
}

std::optional<std::string> Redactor::optional(const std::optional<std::string>& text) const {
    if (!text)
        return std::nullopt;
    return (*this)(*text);
}

} // namespace marrowbell
