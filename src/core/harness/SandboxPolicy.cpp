#include "harness/SandboxPolicy.h"

#include <cstddef>

namespace marrowbell {

namespace {

constexpr std::string_view header[] = {"(version 1)", "(allow default)", "(deny file-write*)"};

// One parenthesised form or one word, string or pattern of the profile language.
struct Node {
    enum Kind { list, atom, string, pattern } kind = atom;
    std::string text;
    std::vector<Node> children;
    int line = 1;
};

class Reader {
public:
    explicit Reader(std::string_view text)
        : text_(text) {}

    std::vector<Node> forms() {
        std::vector<Node> result;
        while (skipSpace())
            result.push_back(node());
        return result;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;

    [[noreturn]] void fail(int line, const std::string& what) const {
        throw SandboxPolicyError("line " + std::to_string(line) + ": " + what);
    }

    // Skips white space; false at the end of the text.
    bool skipSpace() {
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return true;
            ++at_;
        }
        return false;
    }

    Node node() {
        Node result;
        result.line = line_;
        char c = text_[at_];
        if (c == '(') {
            ++at_;
            result.kind = Node::list;
            for (;;) {
                if (!skipSpace())
                    fail(result.line, "a form is not closed");
                if (text_[at_] == ')') {
                    ++at_;
                    return result;
                }
                result.children.push_back(node());
            }
        }
        if (c == ')')
            fail(line_, "unexpected \")\"");
        if (c == '"') {
            result.kind = Node::string;
            result.text = quotedText();
            return result;
        }
        if (c == '#' && at_ + 1 < text_.size() && text_[at_ + 1] == '"') {
            ++at_;
            result.kind = Node::pattern;
            result.text = quotedText();
            return result;
        }
        std::size_t start = at_;
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n()\"").find(text_[at_]) == std::string_view::npos)
            ++at_;
        result.text = std::string(text_.substr(start, at_ - start));
        return result;
    }

    // The text between double quotes at the current position, unescaped.
    std::string quotedText() {
        int startLine = line_;
        ++at_; // the opening quote
        std::string result;
        while (at_ < text_.size()) {
            char c = text_[at_++];
            if (c == '"')
                return result;
            if (c == '\\') {
                if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\\'))
                    fail(line_, "a backslash in a string must precede \" or \\");
                c = text_[at_++];
            } else if (c == '\n') {
                ++line_;
            }
            result += c;
        }
        fail(startLine, "a string is not closed");
    }
};

bool isWord(const Node& node, std::string_view word) {
    return node.kind == Node::atom && node.text == word;
}

// The argument of a filter such as (subpath "/x"); none when `node` is not that filter.
const Node* filterArgument(const Node& node, std::string_view name) {
    if (node.kind != Node::list || node.children.size() != 2 || !isWord(node.children[0], name))
        return nullptr;
    return &node.children[1];
}

std::string absolutePath(const Node& node) {
    if (node.kind != Node::string)
        throw SandboxPolicyError("line " + std::to_string(node.line) +
                                 ": a path must be a quoted string");
    if (node.text.empty() || node.text[0] != '/')
        throw SandboxPolicyError("line " + std::to_string(node.line) + ": the path \"" + node.text +
                                 "\" is not absolute");
    return node.text;
}

bool isForm(const Node& node, std::string_view verb, std::string_view operation) {
    return node.kind == Node::list && node.children.size() >= 2 && isWord(node.children[0], verb) &&
           isWord(node.children[1], operation);
}

} // namespace

std::string SandboxPolicy::quoted(std::string_view text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

std::string SandboxPolicy::text() const {
    std::string result;
    for (std::string_view line : header)
        result.append(line).append("\n");
    for (const auto& path : writableSubpaths)
        result += "(allow file-write* (subpath " + quoted(path) + "))\n";
    for (const auto& path : unreadableSubpaths)
        result += "(deny file-read* (subpath " + quoted(path) + "))\n";
    for (const auto& pattern : writablePatterns)
        result += "(allow file-write* (regex #" + quoted(pattern) + "))\n";
    if (!writableLiterals.empty()) {
        result += "(allow file-write-data";
        for (const auto& literal : writableLiterals)
            result += " (literal " + quoted(literal) + ")";
        result += ")\n";
    }
    result.pop_back();
    return result;
}

SandboxPolicy SandboxPolicy::parse(std::string_view text) {
    std::vector<Node> forms = Reader(text).forms();
    for (std::size_t i = 0; i < std::size(header); ++i) {
        const Node* form = i < forms.size() ? &forms[i] : nullptr;
        bool matches = false;
        if (form && form->kind == Node::list && form->children.size() == 2) {
            const Node& first = form->children[0];
            const Node& second = form->children[1];
            matches = i == 0   ? isWord(first, "version") && isWord(second, "1")
                      : i == 1 ? isWord(first, "allow") && isWord(second, "default")
                               : isWord(first, "deny") && isWord(second, "file-write*");
        }
        if (!matches)
            throw SandboxPolicyError("line " + std::to_string(form ? form->line : 1) +
                                     ": the profile must begin with " + std::string(header[i]));
    }
    SandboxPolicy policy;
    for (std::size_t i = std::size(header); i < forms.size(); ++i) {
        const Node& form = forms[i];
        auto unknown = [&] {
            return SandboxPolicyError("line " + std::to_string(form.line) +
                                      ": not a rule of this profile language");
        };
        if (isForm(form, "allow", "file-write*") && form.children.size() > 2) {
            for (std::size_t f = 2; f < form.children.size(); ++f) {
                if (const Node* path = filterArgument(form.children[f], "subpath"))
                    policy.writableSubpaths.push_back(absolutePath(*path));
                else if (const Node* regex = filterArgument(form.children[f], "regex");
                         regex && regex->kind == Node::pattern)
                    policy.writablePatterns.push_back(regex->text);
                else
                    throw unknown();
            }
        } else if (isForm(form, "deny", "file-read*") && form.children.size() > 2) {
            for (std::size_t f = 2; f < form.children.size(); ++f) {
                const Node* path = filterArgument(form.children[f], "subpath");
                if (!path)
                    throw unknown();
                policy.unreadableSubpaths.push_back(absolutePath(*path));
            }
        } else if (isForm(form, "allow", "file-write-data") && form.children.size() > 2) {
            for (std::size_t f = 2; f < form.children.size(); ++f) {
                const Node* path = filterArgument(form.children[f], "literal");
                if (!path)
                    throw unknown();
                policy.writableLiterals.push_back(absolutePath(*path));
            }
        } else {
            throw unknown();
        }
    }
    return policy;
}

} // namespace marrowbell
