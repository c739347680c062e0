#include "encoders/commandline.h"

namespace bw {

TCommandLine& TCommandLine::Add(std::string_view literal) {
    text_ += literal;
    for (const char c : literal) {
        if (c == ' ') {
            wordOpen_ = false;
            continue;
        }
        if (!wordOpen_) {
            argv_.emplace_back();
            wordOpen_ = true;
        }
        argv_.back().push_back(c);
    }
    return *this;
}

TCommandLine& TCommandLine::AddWord(std::string_view word) {
    text_ += word;
    argv_.emplace_back(word);
    wordOpen_ = true;
    return *this;
}

TCommandLine& TCommandLine::AddQuoted(std::string_view prefix, std::string_view value) {
    Add(prefix);
    text_ += '"';
    text_ += value;
    text_ += '"';
    // An empty value is still an argument of its own (an empty title is passed as "").
    if (!wordOpen_)
        argv_.emplace_back();
    argv_.back() += value;
    wordOpen_ = true;
    return *this;
}

TCommandLine& TCommandLine::AddNamedValues(std::string_view option,
                                           std::initializer_list<TNamedValue> values) {
    for (const auto& v : values)
        Add(option).AddQuoted(v.Name, v.Value);
    return *this;
}

TCommandLine& TCommandLine::Append(const TCommandLine& other) {
    text_ += other.text_;
    const bool joins = wordOpen_ && !other.text_.empty() && other.text_.front() != ' ' &&
                       !other.argv_.empty();
    auto from = other.argv_.begin();
    if (joins) {
        argv_.back() += *from;
        ++from;
    }
    argv_.insert(argv_.end(), from, other.argv_.end());
    wordOpen_ = other.text_.empty() ? wordOpen_ : other.wordOpen_;
    return *this;
}

std::string AsPlainArgument(const std::string& path) {
    return !path.empty() && path.front() == '-' ? "./" + path : path;
}

} // namespace bw
