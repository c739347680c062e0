#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace bw {

// FFmpeg's ASF writer (5.x) stores every tag in the Extended Content Description Object and
// "Title" and "Author" a second time in the Content Description Object, so readers list
// them twice; and it never fills that object's description, because it looks for
// "comment" after renaming that key to "Description". Windows Media readers (ours among
// them) take title, author and description from the Content Description Object only.
//
// This puts things where they belong, in the finished file's header: "Title", "Author" and
// "Description" move from the extended object into the Content Description Object, every
// other tag stays in the extended object in its order, and the tag named reserveName,
// which the writer was given only to leave room for the move, goes. The space left over
// becomes a Padding Object, so the header keeps its size and nothing after it moves.
// False, with *error, when the header is not as the writer leaves it or the file cannot be
// read or written; the file may then be unchanged or incomplete.
bool PlaceAsfDescriptionTags(const std::string& path, std::string_view reserveName,
                             std::string* error);

// Puts Unicode attributes of the given names and values into the Extended Content
// Description Object of a finished file (one is added when it has none), in place of
// attributes of the same names in any letter case; every other object stays as it is. The
// header grows or shrinks by the difference (the file size the File Properties Object states
// follows) and the file is rebuilt under a temporary name (fresh as for
// TFLACfile::WritePicture). False, with error, when it could not be changed: it is then as it
// was.
bool AddAsfAttributes(const std::string& path,
                      std::span<const std::pair<std::string, std::string>> items,
                      std::string& error, bool fresh);

// The least value length (UTF-16 bytes, terminator included) of the reserve tag so that the
// move always fits.
inline constexpr size_t kAsfReserveValueBytes = 64;

} // namespace bw
