#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The 148 genre names; a name's index is its ID3v1 genre byte.
class TGenreList {
public:
    static constexpr int kCount = 148;
    static constexpr int kOther = 12;      // what an unknown genre byte reads as
    static constexpr int kUnknownByte = 255; // what an unknown name is stored as

    TGenreList();

    int Count() const { return static_cast<int>(names_.size()); }
    // The name for a genre byte; any byte past the list (255 included) reads as "Other".
    const std::string& Name(int genreByte) const;
    // Index of a name, ignoring letter case; -1 when it is not in the list.
    int IndexOf(std::string_view name) const;
    // The genre byte to store for a name: its index, or 255 when it is not in the list.
    int ByteFor(std::string_view name) const;
    const std::vector<std::string>& Names() const { return names_; }

private:
    std::vector<std::string> names_;
};

// The one list the program shares; built on first use.
const TGenreList& GenreList();

} // namespace bw
