#include "automation/automation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lt::automation {

namespace {
std::string lower(const std::string& s)
{
    std::string r = s;
    for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::optional<double> parseNumber(const std::string& s)
{
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    while (end && *end == ' ') ++end;
    if (!end || *end != '\0') return std::nullopt;
    return d;
}
}  // namespace

bool Variant::toBool() const
{
    if (auto b = std::get_if<Bool>(&v_)) return b->value;
    if (auto s = std::get_if<std::string>(&v_)) {
        std::string l = lower(*s);
        if (l == "true") return true;
        auto d = parseNumber(*s);
        return d && *d != 0.0;
    }
    auto d = toDouble();
    return d && *d != 0.0;
}

std::optional<double> Variant::toDouble() const
{
    switch (type()) {
    case Type::Empty: return 0.0;
    case Type::Bool: return std::get<Bool>(v_).value ? -1.0 : 0.0;
    case Type::Int16: return double(std::get<std::int16_t>(v_));
    case Type::Int32: return double(std::get<std::int32_t>(v_));
    case Type::Double: return std::get<double>(v_);
    case Type::String: return parseNumber(std::get<std::string>(v_));
    }
    return std::nullopt;
}

std::optional<std::int32_t> Variant::toInt32() const
{
    auto d = toDouble();
    if (!d || std::isnan(*d)) return std::nullopt;
    // Automation rounds half to even when narrowing a double.
    double r = std::nearbyint(*d);
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(r);
}

std::optional<std::int16_t> Variant::toInt16() const
{
    auto i = toInt32();
    if (!i || *i < -32768 || *i > 32767) return std::nullopt;
    return static_cast<std::int16_t>(*i);
}

std::string Variant::toString() const
{
    switch (type()) {
    case Type::Empty: return {};
    case Type::Bool: return std::get<Bool>(v_).value ? "True" : "False";
    case Type::Int16: return std::to_string(std::get<std::int16_t>(v_));
    case Type::Int32: return std::to_string(std::get<std::int32_t>(v_));
    case Type::Double: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(v_));
        return buf;
    }
    case Type::String: return std::get<std::string>(v_);
    }
    return {};
}

bool Variant::operator==(const Variant& o) const
{
    if (type() != o.type()) return false;
    switch (type()) {
    case Type::Empty: return true;
    case Type::Bool: return std::get<Bool>(v_).value == std::get<Bool>(o.v_).value;
    default: return v_ == o.v_;
    }
}

// --- DispatchTable ---

void DispatchTable::addProperty(std::int32_t dispid, const std::string& name, Getter get, Setter set)
{
    CheckedGetter checked;
    if (get)
        checked = [get = std::move(get)](Variant& out) { out = get(); return ErrorInfo{}; };
    addCheckedProperty(dispid, name, std::move(checked), std::move(set));
}

void DispatchTable::addCheckedProperty(std::int32_t dispid, const std::string& name, CheckedGetter get, Setter set)
{
    Entry& e = entries_[dispid];
    e = Entry{name, std::move(get), std::move(set), {}, e.observeFirst};
    byName_[lower(name)] = dispid;
}

void DispatchTable::addMethod(std::int32_t dispid, const std::string& name, Method m)
{
    entries_[dispid] = Entry{name, {}, {}, std::move(m)};
    byName_[lower(name)] = dispid;
}

std::optional<std::int32_t> DispatchTable::idOfName(const std::string& name) const
{
    auto it = byName_.find(lower(name));
    if (it == byName_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> DispatchTable::nameOf(std::int32_t dispid) const
{
    auto it = entries_.find(dispid);
    if (it == entries_.end()) return std::nullopt;
    return it->second.name;
}

std::vector<std::int32_t> DispatchTable::propertyIds() const
{
    std::vector<std::int32_t> ids;
    for (const auto& [id, e] : entries_)
        if (e.get) ids.push_back(id);
    return ids;
}

bool DispatchTable::isWritable(std::int32_t dispid) const
{
    auto it = entries_.find(dispid);
    return it != entries_.end() && bool(it->second.set);
}

static ErrorInfo notFound(std::int32_t dispid)
{
    return ErrorInfo{kMemberNotFound, 0, "Member not found (" + std::to_string(dispid) + ")", {}};
}

ErrorInfo DispatchTable::get(std::int32_t dispid, Variant& out) const
{
    auto it = entries_.find(dispid);
    if (it == entries_.end() || !it->second.get) return notFound(dispid);
    ErrorInfo e = it->second.get(out);
    if (!e.failed() && observer_) observer_(dispid, it->second.name, Access::Read, out);
    return e;
}

ErrorInfo DispatchTable::put(std::int32_t dispid, const Variant& value) const
{
    auto it = entries_.find(dispid);
    if (it == entries_.end() || !it->second.set) return notFound(dispid);
    // Copies: the observer or the setter may rebind entries or the observer.
    const Observer observer = observer_;
    const std::string name = it->second.name;
    if (observer && it->second.observeFirst) observer(dispid, name, Access::Write, value);
    ErrorInfo e = it->second.set(value);
    if (observer && !it->second.observeFirst) observer(dispid, name, Access::Write, value);
    return e;
}

ErrorInfo DispatchTable::invoke(std::int32_t dispid, Args& args, Variant& result) const
{
    auto it = entries_.find(dispid);
    if (it == entries_.end()) return notFound(dispid);
    if (it->second.method) return it->second.method(args, result);
    // A property called with no arguments is a get, with one a put.
    if (args.empty()) return get(dispid, result);
    if (args.size() == 1 && args[0]) return put(dispid, *args[0]);
    return ErrorInfo{kInvalidCall, 5, "Invalid procedure call or argument", {}};
}

// --- ConnectionPoint ---

ConnectionPoint::ConnectionPoint()
    : conns_(std::make_shared<std::vector<Conn>>()), alive_(std::make_shared<bool>(true))
{
}

ConnectionPoint::~ConnectionPoint() { *alive_ = false; }

std::uint32_t ConnectionPoint::connect(EventSink* sink)
{
    std::uint32_t cookie = next_++;
    conns_->push_back({cookie, sink});
    return cookie;
}

bool ConnectionPoint::disconnect(std::uint32_t cookie)
{
    auto it = std::find_if(conns_->begin(), conns_->end(), [&](const Conn& c) { return c.cookie == cookie; });
    if (it == conns_->end()) return false;
    conns_->erase(it);
    return true;
}

std::size_t ConnectionPoint::count() const { return conns_->size(); }

void ConnectionPoint::fire(std::int32_t dispid, Args& args)
{
    // Snapshot cookies so sinks may change the list; keep the list and the
    // liveness flag alive locally in case a sink destroys this object.
    auto conns = conns_;
    auto alive = alive_;
    std::vector<std::uint32_t> cookies;
    for (const auto& c : *conns) cookies.push_back(c.cookie);
    for (auto cookie : cookies) {
        if (!*alive) return;
        auto it = std::find_if(conns->begin(), conns->end(), [&](const Conn& c) { return c.cookie == cookie; });
        if (it == conns->end()) continue;   // disconnected during an earlier call
        it->sink->onEvent(dispid, args);
    }
}

// --- PropertyBag ---

void PropertyBag::write(const std::string& name, const Variant& v) { values_[lower(name)] = v; }

std::optional<Variant> PropertyBag::read(const std::string& name) const
{
    auto it = values_.find(lower(name));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void PropertyBag::writeObject(const std::string& name, const PropertyBag& object)
{
    objects_[lower(name)] = std::make_shared<PropertyBag>(object);
}

const PropertyBag* PropertyBag::readObject(const std::string& name) const
{
    auto it = objects_.find(lower(name));
    return it == objects_.end() ? nullptr : it->second.get();
}

// --- ByteStream ---

void ByteStream::put(std::uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) data_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool ByteStream::take(std::uint64_t& v, int n)
{
    if (data_.size() - pos_ < std::size_t(n)) return false;
    v = 0;
    for (int i = 0; i < n; ++i)
        v |= std::uint64_t(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
    pos_ += n;
    return true;
}

void ByteStream::writeU8(std::uint8_t v) { put(v, 1); }
void ByteStream::writeI16(std::int16_t v) { put(static_cast<std::uint16_t>(v), 2); }
void ByteStream::writeU16(std::uint16_t v) { put(v, 2); }
void ByteStream::writeI32(std::int32_t v) { put(static_cast<std::uint32_t>(v), 4); }
void ByteStream::writeU32(std::uint32_t v) { put(v, 4); }
void ByteStream::writeBytes(const std::string& bytes) { data_ += bytes; }
void ByteStream::writeDouble(double v)
{
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    put(u, 8);
}
void ByteStream::writeString(const std::string& s)
{
    writeI32(static_cast<std::int32_t>(s.size()));
    data_ += s;
}

bool ByteStream::readU8(std::uint8_t& v)
{
    std::uint64_t u;
    if (!take(u, 1)) return false;
    v = static_cast<std::uint8_t>(u);
    return true;
}
bool ByteStream::readI16(std::int16_t& v)
{
    std::uint64_t u;
    if (!take(u, 2)) return false;
    v = static_cast<std::int16_t>(static_cast<std::uint16_t>(u));
    return true;
}
bool ByteStream::readU16(std::uint16_t& v)
{
    std::uint64_t u;
    if (!take(u, 2)) return false;
    v = static_cast<std::uint16_t>(u);
    return true;
}
bool ByteStream::readU32(std::uint32_t& v)
{
    std::uint64_t u;
    if (!take(u, 4)) return false;
    v = static_cast<std::uint32_t>(u);
    return true;
}
bool ByteStream::readBytes(std::size_t n, std::string& bytes)
{
    if (remaining() < n) return false;
    bytes = data_.substr(pos_, n);
    pos_ += n;
    return true;
}
bool ByteStream::readI32(std::int32_t& v)
{
    std::uint64_t u;
    if (!take(u, 4)) return false;
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
    return true;
}
bool ByteStream::readDouble(double& v)
{
    std::uint64_t u;
    if (!take(u, 8)) return false;
    std::memcpy(&v, &u, 8);
    return true;
}
bool ByteStream::readString(std::string& s)
{
    std::size_t save = pos_;
    std::int32_t n;
    if (!readI32(n)) return false;
    if (n < 0 || data_.size() - pos_ < std::size_t(n)) {
        pos_ = save;
        return false;
    }
    s = data_.substr(pos_, n);
    pos_ += n;
    return true;
}

// --- Persisted values ---

namespace {
// A string longer than this cannot be a property value; reading one is
// refused as an allocation would be.
constexpr std::uint32_t kMaxStringBytes = 64u << 20;

// Class id of the stock font object, in its stream layout.
const std::string& stockFontClassId()
{
    static const std::string id("\x03\x52\xE3\x0B\x91\x8F\xCE\x11\x9D\xE3\x00\xAA\x00\x4B\xB8\x51", 16);
    return id;
}

enum : std::uint8_t { kFontItalic = 0x02, kFontUnderline = 0x04, kFontStrikethrough = 0x08 };
}  // namespace

std::string toUtf16(const std::string& bytes)
{
    std::string units;
    units.reserve(bytes.size() * 2);
    for (char c : bytes) {
        units.push_back(c);
        units.push_back('\0');
    }
    return units;
}

std::string fromUtf16(const std::string& units)
{
    std::string bytes;
    bytes.reserve(units.size() / 2);
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        const unsigned lo = static_cast<unsigned char>(units[i]);
        const unsigned hi = static_cast<unsigned char>(units[i + 1]);
        bytes.push_back(hi ? '?' : static_cast<char>(lo));
    }
    return bytes;
}

void writeValue(ByteStream& out, std::uint16_t type, const Variant& value)
{
    out.writeU16(type);
    switch (type) {
    case VarType::Boolean: out.writeI16(value.toAutomationBool()); break;
    case VarType::String: {
        // A present string, even an empty one, carries its terminator.
        const std::string units = toUtf16(value.toString());
        out.writeU32(static_cast<std::uint32_t>(units.size() + 2));
        out.writeBytes(units);
        out.writeU16(0);
        break;
    }
    default: out.writeI32(value.toInt32().value_or(0)); break;
    }
}

HResult readValue(ByteStream& in, std::uint16_t type, Variant& value)
{
    std::uint16_t actual;
    if (!in.readU16(actual)) return kFail;
    if (actual != type) return kBadVarType;
    switch (type) {
    case VarType::Long: {
        std::int32_t v;
        if (!in.readI32(v)) return kFail;
        value = Variant(v);
        return kOk;
    }
    case VarType::Boolean: {
        std::int16_t v;
        if (!in.readI16(v)) return kFail;
        value = Variant::fromBool(v != 0);
        return kOk;
    }
    case VarType::String: {
        std::uint32_t n;
        if (!in.readU32(n)) return kFail;
        if (n > kMaxStringBytes) return kOutOfMemory;
        std::string raw;
        if (!in.readBytes(n, raw)) return kFail;
        // The count includes the terminator; 0 is a null string.
        raw.resize(n >= 2 ? n - 2 : 0);
        value = Variant(fromUtf16(raw));
        return kOk;
    }
    default: return kBadVarType;
    }
}

void writeFont(ByteStream& out, const FontDesc& font)
{
    out.writeU16(VarType::Object);
    out.writeBytes(stockFontClassId());
    out.writeU8(1);   // version
    out.writeI16(font.charset);
    out.writeU8(static_cast<std::uint8_t>((font.italic ? kFontItalic : 0) | (font.underline ? kFontUnderline : 0) |
                                          (font.strikethrough ? kFontStrikethrough : 0)));
    out.writeI16(font.weight);
    out.writeU32(font.size);
    const std::string name = font.name.substr(0, 255);
    out.writeU8(static_cast<std::uint8_t>(name.size()));
    out.writeBytes(name);
}

HResult readFont(ByteStream& in, FontDesc& font)
{
    std::uint16_t type;
    if (!in.readU16(type)) return kFail;
    if (type != VarType::Object) return kBadVarType;
    std::string classId, name;
    std::uint8_t version, style, length;
    FontDesc f;
    if (!in.readBytes(16, classId)) return kFail;
    if (classId != stockFontClassId()) return kUnexpected;   // not a font
    if (!in.readU8(version) || !in.readI16(f.charset) || !in.readU8(style) || !in.readI16(f.weight) ||
        !in.readU32(f.size) || !in.readU8(length) || !in.readBytes(length, name))
        return kFail;
    if (version != 1) return kUnexpected;
    f.name = name;
    f.italic = style & kFontItalic;
    f.underline = style & kFontUnderline;
    f.strikethrough = style & kFontStrikethrough;
    font = f;
    return kOk;
}

PropertyBag fontBag(const FontDesc& font)
{
    PropertyBag bag;
    bag.write("Name", Variant(font.name));
    bag.write("Size", Variant(font.size / 10000.0));
    bag.write("Charset", Variant(std::int32_t(font.charset)));
    bag.write("Weight", Variant(std::int32_t(font.weight)));
    bag.write("Underline", Variant::fromBool(font.underline));
    bag.write("Italic", Variant::fromBool(font.italic));
    bag.write("Strikethrough", Variant::fromBool(font.strikethrough));
    return bag;
}

void readFontBag(const PropertyBag& bag, FontDesc& font)
{
    if (auto v = bag.read("Name")) font.name = v->toString();
    if (auto v = bag.read("Size"))
        if (auto d = v->toDouble(); d && *d > 0 && *d < 100000) font.size = std::uint32_t(std::lround(*d * 10000));
    if (auto v = bag.read("Charset"))
        if (auto i = v->toInt16()) font.charset = *i;
    if (auto v = bag.read("Weight"))
        if (auto i = v->toInt16()) font.weight = *i;
    if (auto v = bag.read("Underline")) font.underline = v->toBool();
    if (auto v = bag.read("Italic")) font.italic = v->toBool();
    if (auto v = bag.read("Strikethrough")) font.strikethrough = v->toBool();
}

}  // namespace lt::automation
