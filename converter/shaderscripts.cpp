#include "shaderscripts.h"

#include <cstddef>

namespace bsp2map {
namespace {

// Words, quoted words and braces; comments and the line breaks skipped, each
// token counted on its line for messages.
class Tokens {
public:
    explicit Tokens(std::string_view text)
        : text_(text)
    {
    }

    // The next token, or an empty view at the end. Every call moves on.
    std::string_view next()
    {
        skipBlank();
        if (at_ >= text_.size())
            return {};
        tokenLine_ = line_;
        const char c = text_[at_];
        if (c == '{' || c == '}')
            return text_.substr(at_++, 1);
        if (c == '"') {
            const std::size_t start = ++at_;
            while (at_ < text_.size() && text_[at_] != '"' && text_[at_] != '\n')
                ++at_;
            const std::string_view word = text_.substr(start, at_ - start);
            if (at_ < text_.size() && text_[at_] == '"')
                ++at_;
            return word.empty() ? std::string_view("\"\"") : word;
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && !blank(text_[at_]) && text_[at_] != '{' && text_[at_] != '}' &&
               !comment())
            ++at_;
        return text_.substr(start, at_ - start);
    }

    std::size_t line() const { return tokenLine_; }

private:
    static bool blank(char c) { return static_cast<unsigned char>(c) <= ' '; }
    bool comment() const
    {
        return at_ + 1 < text_.size() && text_[at_] == '/' &&
               (text_[at_ + 1] == '/' || text_[at_ + 1] == '*');
    }

    void skipBlank()
    {
        while (at_ < text_.size()) {
            if (text_[at_] == '\n')
                ++line_;
            if (blank(text_[at_])) {
                ++at_;
            } else if (comment() && text_[at_ + 1] == '/') {
                while (at_ < text_.size() && text_[at_] != '\n')
                    ++at_;
            } else if (comment()) {
                at_ += 2;
                while (at_ < text_.size() &&
                       !(text_[at_] == '*' && at_ + 1 < text_.size() && text_[at_ + 1] == '/'))
                    line_ += text_[at_++] == '\n';
                at_ = at_ < text_.size() ? at_ + 2 : at_;
            } else {
                return;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0, line_ = 1, tokenLine_ = 1;
};

// A stage's image that is a file: "$lightmap", "$whiteimage" and the like are not.
bool isFile(std::string_view image)
{
    return !image.empty() && image[0] != '$' && image != "*white";
}

// The body of one shader, after its opening brace; false when the text ends first.
bool readBody(Tokens &tokens, ShaderImages &shader)
{
    int depth = 1;
    for (std::string_view token = tokens.next(); !token.empty(); token = tokens.next()) {
        if (token == "{") {
            ++depth;
        } else if (token == "}") {
            if (--depth == 0)
                return true;
        } else if (depth == 1 && lower(token) == "qer_editorimage") {
            if (const std::string_view image = tokens.next();
                isFile(image) && image != "{" && image != "}")
                shader.editorImage = lower(image);
        } else if (depth == 2 && shader.stageImage.empty()) {
            const std::string word = lower(token);
            if (word == "map" || word == "clampmap")
                if (const std::string_view image = tokens.next(); isFile(image) && image != "}")
                    shader.stageImage = lower(image);
        }
    }
    return false;
}

} // namespace

ShaderScript readShaderScript(std::string_view text)
{
    ShaderScript script;
    Tokens tokens(text);
    std::string_view name;
    for (std::string_view token = tokens.next(); !token.empty(); token = tokens.next()) {
        if (token != "{") {
            name = token == "}" ? std::string_view() : token;
            continue;
        }
        const std::size_t opened = tokens.line();
        ShaderImages shader{lower(name), {}, {}};
        if (!readBody(tokens, shader)) {
            script.problem =
                "a chave aberta na linha " + std::to_string(opened) +
                (name.empty() ? std::string() : " (shader " + std::string(name) + ")") +
                " nunca é fechada";
            return script;
        }
        if (!name.empty())
            script.shaders.push_back(std::move(shader));
        name = {};
    }
    return script;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace bsp2map
