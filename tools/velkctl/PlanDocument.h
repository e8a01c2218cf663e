#ifndef VELK_VELKCTL_PLANDOCUMENT_H
#define VELK_VELKCTL_PLANDOCUMENT_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The text of a plan file as a tree, whichever its syntax (JSON with
// comments, or YAML): objects, arrays and scalars, each with the line it
// stands on. Scalars keep their text as written, so a number keeps its
// decimals. Built for hostile input: the text must be UTF-8; nesting, YAML
// aliases, duplicate keys, NaN and infinities are refused; a value costs 16
// bytes and its text once, so memory stays a small multiple of the file.
// A YAML alias is a reference to the anchored value, never a copy.
class PlanDocument {
public:
    using Index = std::uint32_t;
    static constexpr Index none = ~Index(0);
    enum class Kind : std::uint8_t { Null, Boolean, Number, String, Object, Array };

    // Deepest nesting a plan may have, and how many values YAML aliases
    // may stand for in all.
    static constexpr std::size_t maxDepth = 32;
    static constexpr std::uint64_t maxAliasValues = 100000;

    // Why a parse failed: the line (from 1) and the reason, or stopped.
    struct Failure {
        int line = 0;
        std::string reason;
        bool stopped = false;
    };

    // Parses text; stop (may be empty) is asked now and then and ends the
    // parse when it says so. False with failure filled in when the text is
    // refused.
    bool parse(const std::string& text, bool yaml, const std::function<bool()>& stop,
               Failure& failure);

    // The document's value; none before a successful parse.
    Index root() const { return rootIndex; }

    // What a value is and holds (an alias reads as the value it names).
    Kind kind(Index value) const;
    // The line of the value, or of the alias that names it.
    int line(Index value) const;
    // Text of a scalar: a string's characters, a number as written; "" else.
    std::string_view text(Index value) const;
    bool boolean(Index value) const;
    // A number's value; false for anything else (a whole number: for a
    // number with a point or an exponent too).
    bool number(Index value, double& out) const;
    bool wholeNumber(Index value, long long& out) const;

    // Array items or object members in order: first(container), then
    // next(item) until none. An object's members are its keys, whose text is
    // the name; value(key) is the member's value.
    Index first(Index container) const;
    Index next(Index item) const;
    Index value(Index key) const { return nodes[key].next; }
    std::size_t size(Index container) const; // items, or members of an object
    // The member's value, none when the object has no such key.
    Index find(Index object, std::string_view key) const;

    class Builder;

private:
    enum : std::uint8_t { keyKind = 6, aliasKind = 7 };
    struct Node {
        std::uint32_t kind : 3;
        std::uint32_t line : 29;
        std::uint32_t a = 0; // scalar: text offset; container: first child; alias: target
        std::uint32_t b = 0; // scalar: text size (boolean: value); container: children
        Index next = none;   // next child of the same container
    };
    const Node& resolved(Index value) const;

    std::deque<Node> nodes; // no reallocation: growth costs no copy of the whole
    std::string texts;
    Index rootIndex = none;
};

// The text of a plan that is not UTF-8: the offset of the first byte that
// breaks the encoding (overlong forms and surrogates included), or npos.
std::size_t firstNonUtf8(std::string_view text);

#endif
