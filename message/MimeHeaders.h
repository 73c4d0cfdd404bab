#pragma once
// Plain functions the parser reads header blocks with: finding a header with
// its continuation lines, taking its value, removing a header block, reading
// the multipart boundary, decoding encoded words and rewriting address
// lists. None of them fails: malformed input gives a best-effort text.
//
// Header names are compared in upper case (ASCII letters only; no character
// set is assumed). "Trim" removes blanks and control characters (codes up to
// 32) at both ends.
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::string TrimText(std::string_view text);
std::string UpperText(std::string_view text);
std::string LowerText(std::string_view text);

// The first header of the first block of lines whose name, upper-cased,
// begins with `key` (upper case, with its colon: "SUBJECT:"), with every
// continuation line (one that begins with a blank or a tab) appended trimmed
// and with nothing in between. Leading empty lines are skipped; the block
// ends at the next empty line (a line of blanks belongs to the block).
std::optional<std::string> FindHeader(std::string_view key, std::span<const std::string> lines);

// FindHeader for several keys in one pass over the block: element i is
// FindHeader(keys[i], lines).
std::vector<std::optional<std::string>> FindHeaders(std::initializer_list<std::string_view> keys,
                                                    std::span<const std::string> lines);

// The text after the first occurrence of `key` in the upper-cased line,
// trimmed, and cut (and trimmed again) before its first ";"; "" when the
// line does not hold the key. The key may stand anywhere in the line.
std::string HeaderValue(std::string_view key, std::string_view line);

// How many lines StripHeaderBlock removes from the front of `lines`.
std::size_t HeaderBlockLength(std::span<const std::string> lines);
// Removes the leading lines that are not blank after trimming, then the
// blank ones after them: what is left is the body of the part.
void StripHeaderBlock(std::vector<std::string>& lines);

// The delimiter line of a Content-Type header line: "--" followed by the
// boundary, read from at most 72 characters after the word BOUNDARY.
std::string BoundaryOf(std::string_view line);

// Decodes the encoded words "=?charset?Q?...?=" and "=?charset?B?...?=" of a
// header text, repeatedly, until no "=?" starts a complete one: text that
// decoding produces is decoded again when it forms an encoded word. The
// character set is ignored (bytes go in unconverted); a word of any other
// kind is dropped; an unterminated one stays as it is.
std::string DecodeEncodedWords(std::string_view text);

// Rewrites an address list item by item as `"display name" <address>`,
// items separated by ", ", after removing quoted strings.
std::string NormalizeAddressList(std::string_view text);
// The display name of one address item, in double quotes.
std::string DisplayNameOf(std::string_view item);
// The address of one address item, in angle brackets.
std::string AddressOf(std::string_view item);

// The text without any occurrence of c.
std::string RemoveChar(std::string_view text, char c);
// The text without one leading and one trailing quote (double or single;
// they need not match).
std::string StripQuotes(std::string_view text);
