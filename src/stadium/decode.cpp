#include "decode.hpp"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include <nlohmann/json.hpp>

#include "fields.hpp"
#include "vexlo/flag.hpp"
#include "text.hpp"

// The JSON syntax is nlohmann/json's, driven through its SAX interface: the
// parser keeps its own stack of open containers, so nesting never recurses on
// the machine stack. The handler below maps the events onto the records,
// guided by one table of fields per record kind, and keeps one frame per open
// container. A cursor over the text counts the bytes the parser consumed, so
// that every message can name the place where decoding stopped.

namespace vexlo::stadium {
namespace {

using json = nlohmann::json;
using namespace fields;

// The top-level object is level 1; a container that would open level 128 is
// refused.
constexpr std::size_t MAX_LEVELS = 127;
constexpr std::size_t NONE = static_cast<std::size_t>(-1);

// ---------------------------------------------------------------------------
// Counting cursor

struct Tracker {
    std::size_t consumed = 0;  // bytes handed to the parser
    bool at_end = false;       // the parser asked past the last byte
};

// A plain character iterator that counts how far the parser has read. The
// parser compares it with the end only when it asks for the next byte, which
// tells when it has looked past the last one.
class Cursor {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    Cursor(const char* p, Tracker* t) : p_(p), t_(t) {}
    reference operator*() const { return *p_; }
    Cursor& operator++() {
        ++p_;
        ++t_->consumed;
        return *this;
    }
    Cursor operator++(int) {
        Cursor before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const Cursor& a, const Cursor& b) {
        if (a.p_ != b.p_) return false;
        a.t_->at_end = true;
        return true;
    }

private:
    const char* p_;
    Tracker* t_;
};

// ---------------------------------------------------------------------------
// Scalar values as the parser delivers them

struct Scalar {
    enum class Type : std::uint8_t { Null, Bool, Unsigned, Signed, Float, String };
    Type type = Type::Null;
    bool b = false;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0.0;
    std::string* s = nullptr;

    bool is_number() const { return type == Type::Unsigned || type == Type::Signed || type == Type::Float; }
    double number() const {
        switch (type) {
            case Type::Unsigned: return static_cast<double>(u);
            case Type::Signed: return static_cast<double>(i);
            default: return f;
        }
    }
    // How messages describe the value.
    std::string found() const {
        switch (type) {
            case Type::Null: return "null";
            case Type::Bool: return b ? "boolean `true`" : "boolean `false`";
            case Type::Unsigned: return "integer `" + std::to_string(u) + "`";
            case Type::Signed: return "integer `" + std::to_string(i) + "`";
            case Type::Float: return "floating point `" + float_text(f) + "`";
            case Type::String: return "string " + quote(*s);
        }
        return "";
    }
};

// ---------------------------------------------------------------------------
// The handler

enum class FrameType : std::uint8_t { Object, Traits, Array, Points, Point, Flags, Skip };

struct Frame {
    FrameType type = FrameType::Skip;
    bool is_array = false;
    Kind kind = Kind::Stadium;  // Object, Array
    std::uint32_t seen = 0;     // Object: bits of the known keys met; Point: numbers read
    void* target = nullptr;     // the record, vector, point or flag set being filled
    std::size_t last_end = 0;   // Point: bytes consumed up to the end of the last number
};

// The value awaited next in an object, set by its key.
struct Expect {
    Want want = Want::Any;
    Kind kind = Kind::Stadium;
    void* dest = nullptr;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Handler {
public:
    Handler(std::string_view text, const Tracker& tracker) : text_(text), tr_(tracker) {
        expect_ = {Want::Object, Kind::Stadium, &stadium_};
    }

    RawStadium& stadium() { return stadium_; }
    const std::string& error() const { return error_; }
    // Where the whitespace after the top-level object ends.
    std::size_t end_of_value() const { return skip_space(top_end_); }

    // --- SAX interface ---
    bool null() { return value(Scalar{}); }
    bool boolean(bool b) {
        Scalar v{Scalar::Type::Bool};
        v.b = b;
        return value(v);
    }
    bool number_integer(json::number_integer_t n) {
        Scalar v{Scalar::Type::Signed};
        v.i = n;
        if (n == 0) {  // only "-0" comes this way: a negative zero
            v.type = Scalar::Type::Float;
            v.f = -0.0;
        }
        return value(v);
    }
    bool number_unsigned(json::number_unsigned_t n) {
        Scalar v{Scalar::Type::Unsigned};
        v.u = n;
        return value(v);
    }
    bool number_float(json::number_float_t n, const json::string_t&) {
        Scalar v{Scalar::Type::Float};
        v.f = n;
        return value(v);
    }
    bool string(json::string_t& s) {
        Scalar v{Scalar::Type::String};
        v.s = &s;
        return value(v);
    }
    bool binary(json::binary_t&) { return true; }
    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& k);
    bool parse_error(std::size_t position, const std::string& last_token, const nlohmann::detail::exception& ex);

private:
    bool value(const Scalar& v);
    bool open(bool array);
    bool close();
    bool plan(bool array, Frame& f);

    Expect current() const;
    bool in_skip() const { return !frames_.empty() && frames_.back().type == FrameType::Skip; }

    // Bytes consumed up to the end of the value just delivered: a number is
    // only known to end once the parser has read the byte after it.
    std::size_t value_end(const Scalar& v) const {
        return v.is_number() && !tr_.at_end ? tr_.consumed - 1 : tr_.consumed;
    }

    bool fail(const std::string& message, std::size_t consumed) {
        error_ = message + position_suffix(text_, consumed);
        return false;
    }
    // A record error. Inside "ballPhysics" the whole value is refused as one
    // once it ends, so the rest of it is skipped; returns true then.
    bool reject(const std::string& message, std::size_t consumed) {
        if (ball_frame_ != NONE && !ball_failed_) {
            for (std::size_t i = ball_frame_; i < frames_.size(); ++i) frames_[i].type = FrameType::Skip;
            ball_failed_ = true;
            return true;
        }
        return fail(message, consumed);
    }
    bool type_error(const std::string& found, Want want, Kind kind, std::size_t consumed) {
        return reject("invalid type: " + found + ", expected " + expected_text(want, kind), consumed);
    }
    bool untagged_ball(std::size_t end);
    bool trailing_in_point(const Frame& point);
    std::size_t skip_space(std::size_t i) const {
        while (i < text_.size() && is_space(text_[i])) ++i;
        return i;
    }

    std::string_view text_;
    const Tracker& tr_;
    RawStadium stadium_;
    std::vector<Frame> frames_;
    Expect expect_;
    std::string error_;
    std::size_t ball_frame_ = NONE;  // frame of an open "ballPhysics" value
    bool ball_failed_ = false;
    std::size_t top_end_ = NONE;  // bytes consumed when the top-level object closed
};

Expect Handler::current() const {
    if (frames_.empty()) return expect_;
    const Frame& top = frames_.back();
    switch (top.type) {
        case FrameType::Array: return {Want::Object, top.kind, nullptr};
        case FrameType::Points: return {Want::Point, Kind::Stadium, nullptr};
        case FrameType::Point: return {Want::Coordinate, Kind::Stadium, top.target};
        case FrameType::Flags: return {Want::FlagName, Kind::Stadium, top.target};
        case FrameType::Skip: return {Want::Any, Kind::Stadium, nullptr};
        case FrameType::Object:
        case FrameType::Traits: break;
    }
    return expect_;
}

bool Handler::untagged_ball(std::size_t end) {
    // The enclosing object is read up to its closing brace, if that comes next.
    std::size_t i = skip_space(end);
    if (i < text_.size() && text_[i] == '}') ++i;
    return fail("data did not match any variant of untagged enum BallPhysics", i);
}

bool Handler::trailing_in_point(const Frame& point) {
    // Reported at the first byte of the value after the second number.
    std::size_t i = skip_space(point.last_end);
    if (i < text_.size() && text_[i] == ',') i = skip_space(i + 1);
    return reject("trailing characters", i + 1);
}

bool Handler::value(const Scalar& v) {
    if (in_skip()) return true;
    const Expect e = current();
    const std::size_t end = value_end(v);
    const bool null = v.type == Scalar::Type::Null;
    const bool str = v.type == Scalar::Type::String;
    switch (e.want) {
        case Want::Any: return true;
        case Want::Number:
            if (!v.is_number()) break;
            *static_cast<double*>(e.dest) = v.number();
            return true;
        case Want::OptNumber:
            if (null) return true;
            if (!v.is_number()) break;
            *static_cast<std::optional<double>*>(e.dest) = v.number();
            return true;
        case Want::Index:
            if (v.type == Scalar::Type::Signed) {
                return reject("invalid value: " + v.found() + ", expected u64", end);
            }
            if (v.type != Scalar::Type::Unsigned) break;
            *static_cast<std::uint64_t*>(e.dest) = v.u;
            return true;
        case Want::String:
            if (!str) break;
            *static_cast<std::string*>(e.dest) = std::move(*v.s);
            return true;
        case Want::OptString:
            if (null) return true;
            if (!str) break;
            *static_cast<std::optional<std::string>*>(e.dest) = std::move(*v.s);
            return true;
        case Want::OptPoint:
        case Want::Flags:
            if (null) return true;
            break;
        case Want::Ball:
            if (!str) return untagged_ball(end);
            *static_cast<BallPhysics*>(e.dest) = BallRef{std::move(*v.s)};
            return true;
        case Want::Coordinate: {
            Frame& point = frames_.back();
            if (point.seen >= 2) return trailing_in_point(point);
            if (!v.is_number()) break;
            auto* p = static_cast<RawPoint*>(point.target);
            (point.seen == 0 ? p->x : p->y) = v.number();
            ++point.seen;
            point.last_end = end;
            return true;
        }
        case Want::FlagName:
            if (!str) break;
            *static_cast<std::int64_t*>(e.dest) |= flag::bits_of(*v.s);
            return true;
        case Want::Size: {
            auto& size = *static_cast<std::optional<double>*>(e.dest);
            size.reset();
            if (v.is_number()) size = v.number();
            return true;
        }
        case Want::Shown: {
            auto& shown = *static_cast<std::optional<bool>*>(e.dest);
            shown.reset();
            if (!null) shown = !(v.type == Scalar::Type::Bool && !v.b);
            return true;
        }
        case Want::Colour: {
            auto& colour = *static_cast<std::optional<std::optional<std::string>>*>(e.dest);
            colour.reset();
            if (str) {
                colour.emplace(std::move(*v.s));
            } else if (!null) {
                colour.emplace();
            }
            return true;
        }
        case Want::Backdrop:
            static_cast<std::optional<RawBackground>*>(e.dest)->reset();
            return true;
        case Want::Point:
        case Want::Traits:
        case Want::Object:
        case Want::Array:
        case Want::Points: break;
    }
    return type_error(v.found(), e.want, e.kind, end);
}

// Decides the frame for a container that has just opened; false (with the
// error set) when it has no place here. `f` stays a skipped frame when the
// container belongs to a refused "ballPhysics" value.
bool Handler::plan(bool array, Frame& f) {
    const Expect e = current();
    f.is_array = array;
    const std::size_t before = tr_.consumed - 1;  // the bracket itself not yet counted
    const auto wrong = [&] { return type_error(array ? "sequence" : "map", e.want, e.kind, before); };
    switch (e.want) {
        case Want::Any: f.type = FrameType::Skip; return true;
        case Want::Object:
            if (array) return wrong();
            f.type = FrameType::Object;
            f.kind = e.kind;
            f.target = e.dest ? e.dest : record(e.kind).append(frames_.back().target);
            return true;
        case Want::Traits:
            if (array) return wrong();
            f.type = FrameType::Traits;
            f.target = e.dest;
            return true;
        case Want::Array:
            if (!array) return wrong();
            f.type = FrameType::Array;
            f.kind = e.kind;
            f.target = e.dest;
            return true;
        case Want::Points:
            if (!array) return wrong();
            f.type = FrameType::Points;
            f.target = e.dest;
            return true;
        case Want::Point:
        case Want::OptPoint:
            if (!array) return wrong();
            f.type = FrameType::Point;
            if (e.dest == nullptr) {
                f.target = &static_cast<std::vector<RawPoint>*>(frames_.back().target)->emplace_back();
            } else if (e.want == Want::OptPoint) {
                f.target = &static_cast<std::optional<RawPoint>*>(e.dest)->emplace();
            } else {
                f.target = e.dest;
            }
            return true;
        case Want::Flags:
            if (!array) return wrong();
            f.type = FrameType::Flags;
            f.target = &static_cast<std::optional<std::int64_t>*>(e.dest)->emplace(0);
            return true;
        case Want::Ball:
            ball_frame_ = frames_.size();
            if (array) {
                // neither variant: refused once the whole value is read
                ball_failed_ = true;
                f.type = FrameType::Skip;
                return true;
            }
            f.type = FrameType::Object;
            f.kind = Kind::Props;
            f.target = &static_cast<BallPhysics*>(e.dest)->emplace<Props>();
            return true;
        case Want::Coordinate:
            if (frames_.back().seen >= 2) return trailing_in_point(frames_.back());
            return wrong();
        // A drawing property given as a container: taken, its contents skipped.
        case Want::Size:
            static_cast<std::optional<double>*>(e.dest)->reset();
            f.type = FrameType::Skip;
            return true;
        case Want::Shown:
            *static_cast<std::optional<bool>*>(e.dest) = true;
            f.type = FrameType::Skip;
            return true;
        case Want::Colour:
            static_cast<std::optional<std::optional<std::string>>*>(e.dest)->emplace();
            f.type = FrameType::Skip;
            return true;
        case Want::Backdrop: {
            auto& backdrop = *static_cast<std::optional<RawBackground>*>(e.dest);
            backdrop.reset();
            if (array) {
                f.type = FrameType::Skip;
                return true;
            }
            f.type = FrameType::Object;
            f.kind = e.kind;
            f.target = &backdrop.emplace();
            return true;
        }
        case Want::Number:
        case Want::OptNumber:
        case Want::Index:
        case Want::String:
        case Want::OptString:
        case Want::FlagName: break;
    }
    return wrong();
}

bool Handler::open(bool array) {
    Frame f;
    f.is_array = array;
    if (!in_skip() && !plan(array, f)) return false;
    if (frames_.size() >= MAX_LEVELS) return fail("recursion limit exceeded", tr_.consumed);
    frames_.push_back(f);
    return true;
}

bool Handler::close() {
    const Frame f = frames_.back();
    const std::size_t at = tr_.consumed;
    if (f.type == FrameType::Object) {
        const auto fields = record(f.kind).fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].required && (f.seen & (1u << i)) == 0) {
                if (reject("missing field `" + std::string(fields[i].key) + "`", at)) break;
                return false;
            }
        }
    } else if (f.type == FrameType::Point && f.seen < 2) {
        const std::string n = std::to_string(f.seen);
        if (!reject("invalid length " + n + ", expected an array of length 2", at)) return false;
    }
    frames_.pop_back();
    if (frames_.size() == ball_frame_) {
        ball_frame_ = NONE;
        if (ball_failed_) return untagged_ball(at);
    }
    if (frames_.empty()) top_end_ = at;
    return true;
}

bool Handler::key(json::string_t& k) {
    Frame& top = frames_.back();
    if (top.type == FrameType::Traits) {
        // a name given twice: the later entry replaces the earlier one
        auto& traits = *static_cast<std::unordered_map<std::string, Props>*>(top.target);
        Props& p = traits[std::move(k)];
        p = Props{};
        expect_ = {Want::Object, Kind::Props, &p};
        return true;
    }
    if (top.type != FrameType::Object) return true;  // skipped
    const RecordType& rec = record(top.kind);
    const Field* field = nullptr;
    std::size_t bit = 0;
    void* base = top.target;
    for (std::size_t i = 0; i < rec.fields.size() && field == nullptr; ++i) {
        if (rec.fields[i].key == k) {
            field = &rec.fields[i];
            bit = i;
        }
    }
    if (field == nullptr && rec.inline_props != nullptr) {
        for (std::size_t i = 0; i < std::size(PROPS_FIELDS) && field == nullptr; ++i) {
            if (PROPS_FIELDS[i].key == k) {
                field = &PROPS_FIELDS[i];
                bit = rec.fields.size() + i;
                base = rec.inline_props(top.target);
            }
        }
    }
    if (field == nullptr) {
        expect_ = {Want::Any, Kind::Stadium, nullptr};
        return true;
    }
    if (drawing_only(field->want)) {
        expect_ = {field->want, field->kind, field->locate(base)};
        return true;
    }
    if ((top.seen & (1u << bit)) != 0) return reject("duplicate field `" + k + "`", tr_.consumed);
    top.seen |= 1u << bit;
    expect_ = {field->want, field->kind, field->locate(base)};
    return true;
}

// The parser's own message without its "[json.exception...] parse error at
// line L, column C: " prefix, and with the token it echoes ("last read: '...'",
// which can be a whole string of the text) shortened.
std::string library_message(const nlohmann::detail::exception& ex, const std::string& last_token) {
    std::string_view m = ex.what();
    if (m.starts_with("[json.exception.")) {
        const auto close = m.find("] ");
        if (close != std::string_view::npos) m.remove_prefix(close + 2);
    }
    if (m.starts_with("parse error")) {
        const auto colon = m.find(": ");
        if (colon != std::string_view::npos) m.remove_prefix(colon + 2);
    }
    const std::string echoed = "last read: '" + last_token + "'";
    const std::size_t at = m.find(echoed);
    if (at == std::string_view::npos) return valid_utf8(m);
    std::string message(m.substr(0, at));
    message += "last read: '" + shortened(last_token) + "'";
    message += m.substr(at + echoed.size());
    return valid_utf8(message);
}

bool Handler::parse_error(std::size_t position, const std::string& last_token,
                          const nlohmann::detail::exception& ex) {
    if (top_end_ != NONE) return fail("trailing characters", skip_space(top_end_) + 1);
    if (position > text_.size()) position = text_.size();
    // A closing bracket of the open container right after a comma.
    const char last = position > 0 ? text_[position - 1] : '\0';
    if ((last == ']' || last == '}') && !frames_.empty() && frames_.back().is_array == (last == ']')) {
        std::size_t i = position - 1;
        while (i > 0 && is_space(text_[i - 1])) --i;
        if (i > 0 && text_[i - 1] == ',') return fail("trailing comma", position);
    }
    return fail(library_message(ex, last_token), position);
}

}  // namespace

DecodeResult decode(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        // the parser would pass over a byte order mark; a stadium text has none
        return "expected value" + position_suffix(text, 1);
    }
    if (text.empty()) {
        // Worded here, not by the parser: its releases word this one differently.
        return "attempting to parse an empty input; check that your input string or stream "
               "contains the expected JSON" + position_suffix(text, 0);
    }
    Tracker tracker;
    Handler handler(text, tracker);
    const Cursor first(text.data(), &tracker);
    const Cursor last(text.data() + text.size(), &tracker);
    const bool ok = json::sax_parse(first, last, &handler, json::input_format_t::json, true, false);
    if (!ok || !handler.error().empty()) {
        if (handler.error().empty()) return "unexpected end of input" + position_suffix(text, text.size());
        return handler.error();
    }
    // The parser takes a NUL byte for the end of the text; nothing may follow.
    const std::size_t rest = handler.end_of_value();
    if (rest != text.size()) return "trailing characters" + position_suffix(text, rest + 1);
    return std::move(handler.stadium());
}

}  // namespace vexlo::stadium
