// The grammar of `.x` files over either token reader: template declarations, objects with their
// data blocks filled member by member, children and references.
//
// Separators are lenient (exporters drop, double or swap ';' and ','): both are skipped wherever
// they appear, members are filled in template order by counting values, values left over before
// a child or '}' are counted as warnings and skipped, and a structure token arriving while values
// are still due fails the object.
#include <algorithm>

#include "lexer.h"

namespace vantor::xfile {

namespace {

constexpr uint32_t prim_size(Prim p) {
    switch (p) {
        case Prim::Word:
        case Prim::Sword:
            return 2;
        case Prim::Dword:
        case Prim::Sdword:
        case Prim::Float:
            return 4;
        case Prim::Double:
            return 8;
        case Prim::Char:
        case Prim::Uchar:
            return 1;
        case Prim::String:
            return sizeof(char*);
        case Prim::None:
            return 0;
    }
    return 0;
}

constexpr bool prim_is_integer(Prim p) {
    return p == Prim::Word || p == Prim::Sword || p == Prim::Dword || p == Prim::Sdword || p == Prim::Char ||
           p == Prim::Uchar;
}

Prim prim_of(Kw kw) {
    switch (kw) {
        case Kw::Word:
            return Prim::Word;
        case Kw::Dword:
            return Prim::Dword;
        case Kw::Float:
            return Prim::Float;
        case Kw::Double:
            return Prim::Double;
        case Kw::Char:
            return Prim::Char;
        case Kw::Uchar:
            return Prim::Uchar;
        case Kw::Sword:
            return Prim::Sword;
        case Kw::Sdword:
            return Prim::Sdword;
        case Kw::String:
        case Kw::Cstring:
        case Kw::Unicode:
            return Prim::String;
        default:
            return Prim::None;
    }
}

template <class Lexer>
class Parser {
public:
    Parser(Document* doc, Lexer* lx, bool objects_allowed)
        : d_(doc), lx_(*lx), objects_allowed_(objects_allowed) {}

    void run() {
        d_->data.reserve_more(d_->source.size());
        for (;;) {
            Token t = lx_.next();
            if (t.kind == Tok::Eof) return;
            if (t.kind == Tok::Semicolon || t.kind == Tok::Comma) continue;
            if (t.kw == Kw::Template) {
                parse_template();
                continue;
            }
            if (t.kind != Tok::Name) fail(DXFILEERR_PARSEERROR);
            uint32_t index = parse_object(t, kNone, nullptr, 1);
            if (objects_allowed_) d_->top_level.push_back(index);
            d_->warnings += lx_.take_warnings();
        }
    }

private:
    [[noreturn]] void fail(HRESULT hr) { throw ParseError{hr, lx_.offset()}; }

    Token expect(Tok kind) {
        Token t = lx_.next();
        if (t.kind != kind) fail(DXFILEERR_PARSEERROR);
        return t;
    }

    // --- templates ---------------------------------------------------------------------------

    void parse_template() {
        auto t = std::make_shared<Template>();
        t->name = std::string(expect(Tok::Name).text);
        expect(Tok::OBrace);
        Token tok = lx_.next();
        bool has_guid = false;
        if (tok.kind == Tok::Guid) {
            t->guid = tok.guid;
            has_guid = true;
            tok = lx_.next();
        }
        for (;; tok = lx_.next()) {
            if (tok.kind == Tok::Semicolon || tok.kind == Tok::Comma) continue;
            if (tok.kind == Tok::CBrace || tok.kind == Tok::OBracket) break;
            parse_member(t.get(), tok);
        }
        if (tok.kind == Tok::OBracket) {
            parse_restriction(t.get());
            expect(Tok::CBrace);
        }
        if (!has_guid) {
            // Files often declare standard templates without their GUID.
            const Template* known = d_->templates.find_exact(t->name);
            if (!known) known = standard_templates().find_exact(t->name);
            if (known) t->guid = known->guid;
        }
        measure(t.get());
        d_->templates.add(std::move(t));
    }

    void parse_member(Template* t, Token tok) {
        Member m;
        bool array = false;
        if (tok.kw == Kw::Array) {
            array = true;
            tok = lx_.next();
        }
        if (tok.kw == Kw::Binary || tok.kw == Kw::BinaryResource || tok.kw == Kw::Ulonglong ||
            tok.kw == Kw::Void)
            fail(DXFILEERR_BADTYPE);
        m.prim = prim_of(tok.kw);
        if (m.prim == Prim::None) {
            if (tok.kind != Tok::Name) fail(DXFILEERR_PARSEERROR);
            m.type = d_->templates.find(tok.text);
            if (!m.type) fail(DXFILEERR_NOTEMPLATE);
        }
        tok = lx_.next();
        if (tok.kind == Tok::Name) {
            m.name = std::string(tok.text);
            tok = lx_.next();
        } else if (array) {
            fail(DXFILEERR_PARSEERROR);
        }
        if (array) {
            if (tok.kind != Tok::OBracket) fail(DXFILEERR_PARSEERROR);
            while (tok.kind == Tok::OBracket) {
                Token n = lx_.next();
                Dim dim{};
                if (n.kind == Tok::Integer) {
                    dim.value = n.u;
                } else if (n.kind == Tok::Name) {
                    // The count is an earlier whole-number member of this template.
                    auto it = std::find_if(t->members.begin(), t->members.end(),
                                           [&](const Member& e) { return e.name == n.text; });
                    if (it == t->members.end() || !prim_is_integer(it->prim) || !it->dims.empty())
                        fail(DXFILEERR_PARSEERROR);
                    dim.value = uint32_t(it - t->members.begin());
                    dim.by_member = true;
                } else {
                    fail(DXFILEERR_PARSEERROR);
                }
                m.dims.push_back(dim);
                expect(Tok::CBracket);
                tok = lx_.next();
            }
        }
        if (tok.kind != Tok::Semicolon) fail(DXFILEERR_PARSEERROR);
        t->members.push_back(std::move(m));
    }

    void parse_restriction(Template* t) {
        Token tok = lx_.next();
        if (tok.kind == Tok::Ellipsis || tok.kind == Tok::Dot) {
            if (tok.kind == Tok::Dot) {
                expect(Tok::Dot);
                expect(Tok::Dot);
            }
            t->restriction = Restriction::Open;
            expect(Tok::CBracket);
            return;
        }
        t->restriction = Restriction::Restricted;
        for (;; tok = lx_.next()) {
            if (tok.kind == Tok::Comma) continue;
            if (tok.kind == Tok::CBracket) return;
            if (tok.kind == Tok::Guid && !t->allowed.empty() && !t->allowed.back().has_guid) {
                t->allowed.back().guid = tok.guid;
                t->allowed.back().has_guid = true;
                continue;
            }
            if (tok.kind != Tok::Name && tok.kind != Tok::Keyword) fail(DXFILEERR_PARSEERROR);
            Allowed a;
            a.name = tok.kind == Tok::Name ? std::string(tok.text) : "BINARY";
            t->allowed.push_back(std::move(a));
        }
    }

    // Sizes, value counts and nesting of a declared template.
    void measure(Template* t) {
        uint64_t fixed = 0, min_values = 0;
        Prim flat = Prim::None;
        uint64_t flat_count = 0;
        bool flat_ok = true;
        for (const Member& m : t->members) {
            uint64_t count = 1;
            bool sized_by_member = false;
            for (const Dim& dim : m.dims) {
                if (dim.by_member)
                    sized_by_member = true;
                else
                    count *= dim.value;
                if (count > kMaxArrayElements) fail(DXFILEERR_BADARRAYSIZE);
            }
            uint64_t elem_size = m.type ? m.type->fixed_size : prim_size(m.prim);
            uint64_t elem_min = m.type ? m.type->min_values : 1;
            bool variable = sized_by_member || (m.type && m.type->has_variable);
            if (m.type) t->depth = std::max(t->depth, m.type->depth + 1);
            Prim leaf = m.type ? m.type->flat : m.prim;
            uint64_t leaf_count = m.type ? m.type->flat_count : 1;
            if (variable || leaf == Prim::None)
                flat_ok = false;
            else if (flat == Prim::None)
                flat = leaf;
            else if (leaf != flat)
                flat_ok = false;
            flat_count += count * leaf_count;
            if (!sized_by_member) min_values = std::min<uint64_t>(min_values + count * elem_min, 0xFFFFFFFF);
            if (variable)
                t->has_variable = true;
            else
                fixed += count * elem_size;
            if (fixed > 0x7FFFFFFF) fail(DXFILEERR_BADARRAYSIZE);
        }
        t->fixed_size = uint32_t(fixed);
        t->min_values = uint32_t(min_values);
        if (flat_ok && !t->members.empty() && flat_count <= 0xFFFF) {
            t->flat = flat;
            t->flat_count = uint32_t(flat_count);
        }
        if (t->depth > kMaxDepth) fail(DXFILEERR_BADFILE);
    }

    // --- objects -----------------------------------------------------------------------------

    uint32_t parse_object(const Token& type_token, uint32_t parent, const Template* parent_type,
                          unsigned depth) {
        if (depth > kMaxDepth) fail(DXFILEERR_BADFILE);
        const Template* type = d_->templates.find(type_token.text);
        if (!type) fail(DXFILEERR_NOTEMPLATE);
        if (parent_type && !parent_type->allows(*type)) fail(DXFILEERR_PARSEERROR);
        Token tok = lx_.next();
        std::string_view name;
        if (tok.kind == Tok::Name || tok.kind == Tok::Integer || tok.kind == Tok::Float) {
            name = tok.text;
            tok = lx_.next();
        }
        if (tok.kind != Tok::OBrace) fail(DXFILEERR_PARSEERROR);
        uint32_t index = uint32_t(d_->objects.size());
        d_->objects.push_back(Object{type, name, GUID{}, 0, 0, 0, 0, parent, 0});
        lx_.take_guid(&d_->objects[index].id);

        d_->data.align8();
        uint64_t start = d_->data.size();
        fill(*type);
        d_->objects[index].data_offset = start;
        d_->objects[index].data_size = uint32_t(d_->data.size() - start);

        size_t base = child_stack_.size();
        for (;;) {
            tok = lx_.next();
            switch (tok.kind) {
                case Tok::Semicolon:
                case Tok::Comma:
                    continue;
                case Tok::CBrace:
                    break;
                case Tok::Name:
                    child_stack_.push_back(
                        Child{ChildKind::Object, parse_object(tok, index, type, depth + 1)});
                    continue;
                case Tok::OBrace:
                    if (type->restriction == Restriction::Closed) fail(DXFILEERR_PARSEERROR);
                    child_stack_.push_back(Child{ChildKind::Reference, parse_reference(index)});
                    continue;
                case Tok::Integer:
                case Tok::Float:
                case Tok::String:
                case Tok::IntList:
                case Tok::FloatList:
                    d_->warnings += tok.kind == Tok::IntList || tok.kind == Tok::FloatList ? tok.u : 1;
                    continue;
                default:
                    fail(DXFILEERR_PARSEERROR);
            }
            break;
        }
        Object& o = d_->objects[index];
        o.first_child = uint32_t(d_->children.size());
        o.child_count = uint32_t(child_stack_.size() - base);
        d_->children.insert(d_->children.end(), child_stack_.begin() + ptrdiff_t(base), child_stack_.end());
        child_stack_.resize(base);
        o.end = uint32_t(d_->objects.size());
        return index;
    }

    uint32_t parse_reference(uint32_t parent) {
        Reference r{};
        r.parent = parent;
        r.position = uint32_t(d_->objects.size());
        Token tok = lx_.next();
        bool named = false;
        if (tok.kind == Tok::Name || tok.kind == Tok::Integer || tok.kind == Tok::Float) {
            r.name = tok.text;
            named = true;
            tok = lx_.next();
        }
        if (tok.kind == Tok::Guid) {
            r.id = tok.guid;
            r.has_id = true;
            tok = lx_.next();
        }
        if (tok.kind != Tok::CBrace || (!named && !r.has_id)) fail(DXFILEERR_PARSEERROR);
        d_->references.push_back(r);
        return uint32_t(d_->references.size() - 1);
    }

    // --- data blocks -------------------------------------------------------------------------

    [[noreturn]] void missing_value(Got g) {
        if (g == Got::Bad) fail(DXFILEERR_BADVALUE);
        fail(array_depth_ ? DXFILEERR_BADARRAYSIZE : DXFILEERR_PARSEERROR);
    }

    // Reads n values of one primitive type into the block; returns the last whole number read.
    uint32_t read_values(Prim p, uint64_t n) {
        uint32_t last = 0;
        Got g;
        switch (p) {
            case Prim::Float: {
                if ((g = lx_.read_floats(d_->data.extend(n * 4), n)) != Got::Value) missing_value(g);
                return 0;
            }
            case Prim::Dword:
            case Prim::Sdword: {
                uint8_t* at = d_->data.extend(n * 4);
                if ((g = lx_.read_u32s(at, n)) != Got::Value) missing_value(g);
                if (n) std::memcpy(&last, at + (n - 1) * 4, 4);
                return last;
            }
            case Prim::Word:
            case Prim::Sword: {
                uint8_t* at = d_->data.extend(n * 2);
                for (uint64_t i = 0; i < n; ++i) {
                    if ((g = lx_.read_u32(&last)) != Got::Value) missing_value(g);
                    uint16_t w = uint16_t(last);
                    std::memcpy(at + i * 2, &w, 2);
                    last = p == Prim::Word ? w : uint32_t(int32_t(int16_t(w)));
                }
                return last;
            }
            case Prim::Char:
            case Prim::Uchar: {
                uint8_t* at = d_->data.extend(n);
                for (uint64_t i = 0; i < n; ++i) {
                    if ((g = lx_.read_u32(&last)) != Got::Value) missing_value(g);
                    at[i] = uint8_t(last);
                    last = p == Prim::Uchar ? uint8_t(last) : uint32_t(int32_t(int8_t(last)));
                }
                return last;
            }
            case Prim::Double: {
                uint8_t* at = d_->data.extend(n * 8);
                for (uint64_t i = 0; i < n; ++i) {
                    double v;
                    if ((g = lx_.read_double(&v)) != Got::Value) missing_value(g);
                    std::memcpy(at + i * 8, &v, 8);
                }
                return 0;
            }
            case Prim::String: {
                uint8_t* at = d_->data.extend(n * sizeof(char*));
                for (uint64_t i = 0; i < n; ++i) {
                    char* s;
                    if ((g = lx_.read_string(&s)) != Got::Value) missing_value(g);
                    std::memcpy(at + i * sizeof(char*), &s, sizeof(char*));
                }
                return 0;
            }
            case Prim::None:
                break;
        }
        return 0;
    }

    void fill(const Template& t) {
        if (t.flat != Prim::None) {
            read_values(t.flat, t.flat_count);
            return;
        }
        // Whole-number members, for arrays sized by them (on the stack for ordinary templates).
        uint32_t local[16];
        std::vector<uint32_t> spill;
        uint32_t* values = local;
        if (t.members.size() > 16) {
            spill.resize(t.members.size());
            values = spill.data();
        }
        for (size_t i = 0; i < t.members.size(); ++i) {
            const Member& m = t.members[i];
            if (m.dims.empty()) {
                if (m.type)
                    fill(*m.type);
                else
                    values[i] = read_values(m.prim, 1);
                continue;
            }
            uint64_t count = 1;
            for (const Dim& dim : m.dims) {
                count *= dim.by_member ? values[dim.value] : dim.value;
                if (count > kMaxArrayElements) fail(DXFILEERR_BADARRAYSIZE);
            }
            if (count == 0) continue;
            uint64_t per = m.type ? m.type->min_values : 1;
            if (per == 0) continue;  // elements that hold no values
            if (!lx_.can_hold(count * per)) fail(DXFILEERR_BADARRAYSIZE);
            ++array_depth_;
            if (!m.type) {
                read_values(m.prim, count);
            } else if (m.type->flat != Prim::None) {
                read_values(m.type->flat, count * m.type->flat_count);
            } else {
                if (!m.type->has_variable) d_->data.reserve_more(count * m.type->fixed_size);
                for (uint64_t k = 0; k < count; ++k) fill(*m.type);
            }
            --array_depth_;
        }
    }

    Document* d_;
    Lexer& lx_;
    bool objects_allowed_;
    unsigned array_depth_ = 0;
    std::vector<Child> child_stack_;
};

}  // namespace

bool Template::allows(const Template& child) const {
    if (restriction == Restriction::Open) return true;
    if (restriction == Restriction::Closed) return false;
    for (const Allowed& a : allowed) {
        if (a.has_guid ? a.guid == child.guid : a.name == child.name) return true;
    }
    return false;
}

void parse(Document* doc, const Header& h, size_t start, bool objects_allowed) {
    const uint8_t* begin = doc->source.data();
    const uint8_t* end = begin + doc->source.size();
    try {
        if (h.format == Header::Text) {
            TextLexer lx(begin, begin + start, end, &doc->strings);
            Parser<TextLexer>(doc, &lx, objects_allowed).run();
        } else {
            BinaryLexer lx(begin, begin + start, end, &doc->strings, h.float_bits);
            Parser<BinaryLexer>(doc, &lx, objects_allowed).run();
        }
    } catch (const ParseError& e) {
        doc->error = e.hr;
        doc->error_offset = uint32_t(std::min<size_t>(e.offset, 0xFFFFFFFF));
        if (h.format == Header::Text) {
            doc->error_line =
                1 + uint32_t(std::count(begin, begin + std::min(e.offset, doc->source.size()), '\n'));
        }
    } catch (const std::bad_alloc&) {
        doc->error = E_OUTOFMEMORY;
    }
}

}  // namespace vantor::xfile
