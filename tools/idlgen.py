#!/usr/bin/env python3
"""idlgen — turns the component's IDL into C++ and documentation.

    python3 tools/idlgen.py idl/vantor.idl --header build/include/vantor/vantor.h \
        --source build/generated/vantor_typelib.cpp --docs docs/api.md

Outputs:
  --header   the public C++ header: enumerations, GUIDs, interfaces (vtable order), uuid_of.
  --source   the type library description (vantor/typedesc.h) with one typed invoke stub per
             member, so IDispatch::Invoke needs neither assembly nor libffi.
  --docs     a Markdown API reference.
  --stubs    Python type stubs for the vantor package (vantor/__init__.pyi), and an untyped
             _vantor.pyi beside it for the extension.
  --classes  the component's class table: one row per co-class (ProgID name, registry script,
             aggregation) calling the creator its class's own file defines; a co-class whose
             class is not built into the component has no creator and stays unregistered.

Co-class attributes beyond MIDL's: registry_script(n), the resource id of the class's registry
script (required for --classes). `aggregatable` (MIDL's) lets the class be created inside an
outer object.

The IDL is a small subset of MIDL (see parse()). Errors name the file and line.
Standard library only.
"""
from __future__ import annotations

import argparse
import os
import re
import sys
from dataclasses import dataclass, field
from typing import Optional


class IdlError(Exception):
    def __init__(self, message: str, line: int = 0, path: str = "<idl>"):
        super().__init__(f"{path}:{line}: {message}" if line else f"{path}: {message}")
        self.line = line


# --------------------------------------------------------------------------------------------
# Model
# --------------------------------------------------------------------------------------------

# IDL base types: name -> (C++ type, VARTYPE name, VARIANT field)
BASE_TYPES = {
    "long": ("LONG", "VT_I4", "lVal"),
    "short": ("SHORT", "VT_I2", "iVal"),
    "float": ("FLOAT", "VT_R4", "fltVal"),
    "double": ("DOUBLE", "VT_R8", "dblVal"),
    "VARIANT_BOOL": ("VARIANT_BOOL", "VT_BOOL", "boolVal"),
    "BSTR": ("BSTR", "VT_BSTR", "bstrVal"),
    "VARIANT": ("VARIANT", "VT_VARIANT", None),
    "IDispatch*": ("IDispatch*", "VT_DISPATCH", "pdispVal"),
    "IUnknown*": ("IUnknown*", "VT_UNKNOWN", "punkVal"),
}


@dataclass
class Param:
    name: str
    type: str               # base type name or enum name (without the out pointer)
    out: bool = False
    retval: bool = False
    optional: bool = False
    default: Optional[object] = None   # int, float, str (enum member or string)
    has_default: bool = False
    line: int = 0


@dataclass
class Member:
    name: str
    kind: str               # "method", "propget", "propput"
    dispid: int
    help: str
    params: list[Param]
    line: int = 0


@dataclass
class Interface:
    name: str
    uuid: str
    help: str
    base: str
    dual: bool
    dispinterface: bool
    members: list[Member] = field(default_factory=list)
    line: int = 0


@dataclass
class EnumType:
    name: str
    uuid: str
    help: str
    members: list[tuple[str, int]]
    line: int = 0


@dataclass
class CoClass:
    name: str
    uuid: str
    help: str
    default: str
    source: Optional[str]
    line: int = 0
    script: Optional[int] = None     # registry_script(n)
    aggregatable: bool = False


@dataclass
class Library:
    name: str
    uuid: str
    help: str
    version: tuple[int, int]
    enums: list[EnumType] = field(default_factory=list)
    interfaces: list[Interface] = field(default_factory=list)
    coclasses: list[CoClass] = field(default_factory=list)


# --------------------------------------------------------------------------------------------
# Lexer
# --------------------------------------------------------------------------------------------

TOKEN_RE = re.compile(
    r"""
    (?P<ws>[ \t\r]+) |
    (?P<nl>\n) |
    (?P<comment>//[^\n]*|/\*.*?\*/) |
    (?P<guid>[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}) |
    (?P<number>-?(?:0[xX][0-9A-Fa-f]+|\d+\.\d*(?:[eE][-+]?\d+)?|\d*\.\d+(?:[eE][-+]?\d+)?|\d+)) |
    (?P<string>"(?:[^"\\\n]|\\.)*") |
    (?P<name>[A-Za-z_][A-Za-z0-9_]*) |
    (?P<punct>[\[\](){};,:*=])
    """,
    re.VERBOSE | re.DOTALL,
)


@dataclass
class Token:
    kind: str
    text: str
    line: int


def tokenize(text: str, path: str) -> list[Token]:
    tokens: list[Token] = []
    pos, line = 0, 1
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise IdlError(f"unexpected character {text[pos]!r}", line, path)
        kind = m.lastgroup
        value = m.group(kind)
        if kind == "nl":
            line += 1
        elif kind == "comment":
            line += value.count("\n")
        elif kind != "ws":
            tokens.append(Token(kind, value, line))
        pos = m.end()
    tokens.append(Token("eof", "", line))
    return tokens


# --------------------------------------------------------------------------------------------
# Parser
# --------------------------------------------------------------------------------------------

class Parser:
    def __init__(self, text: str, path: str = "<idl>"):
        self.path = path
        self.tokens = tokenize(text, path)
        self.i = 0

    # token helpers
    def peek(self, ahead: int = 0) -> Token:
        return self.tokens[min(self.i + ahead, len(self.tokens) - 1)]

    def next(self) -> Token:
        t = self.peek()
        self.i += 1
        return t

    def error(self, message: str, token: Optional[Token] = None):
        raise IdlError(message, (token or self.peek()).line, self.path)

    def expect(self, text: str) -> Token:
        t = self.next()
        if t.text != text:
            self.error(f"expected '{text}', found '{t.text or 'end of file'}'", t)
        return t

    def accept(self, text: str) -> bool:
        if self.peek().text == text:
            self.i += 1
            return True
        return False

    def name(self) -> str:
        t = self.next()
        if t.kind != "name":
            self.error(f"expected a name, found '{t.text or 'end of file'}'", t)
        return t.text

    # attributes: [a, b(x), c("s")] -> {name: value or True}
    def attributes(self) -> dict:
        attrs: dict = {}
        if not self.accept("["):
            return attrs
        while True:
            t = self.next()
            if t.kind != "name":
                self.error(f"expected an attribute, found '{t.text}'", t)
            value: object = True
            if self.accept("("):
                value = self.attribute_value()
                self.expect(")")
            attrs[t.text] = value
            if self.accept("]"):
                return attrs
            self.expect(",")

    def attribute_value(self):
        t = self.next()
        if t.kind == "guid":
            return t.text.upper()
        if t.kind == "number":
            return parse_number(t.text)
        if t.kind == "string":
            return unescape(t.text)
        if t.kind == "name":
            return t.text
        self.error(f"unexpected '{t.text}' in attribute", t)

    def parse(self) -> Library:
        library: Optional[Library] = None
        while self.peek().kind != "eof":
            if self.accept("import"):
                self.next()
                self.expect(";")
                continue
            line = self.peek().line
            attrs = self.attributes()
            if self.peek().text == "library":
                if library:
                    self.error("only one library per file")
                library = self.library(attrs, line)
            else:
                self.error(f"expected a library, found '{self.peek().text}'")
        if not library:
            raise IdlError("no library found", 0, self.path)
        return library

    def library(self, attrs: dict, line: int) -> Library:
        self.expect("library")
        name = self.name()
        lib = Library(name, require(attrs, "uuid", line, self.path), attrs.get("helpstring", ""),
                      parse_version(attrs.get("version", 1.0)))
        self.expect("{")
        while not self.accept("}"):
            if self.accept("importlib"):
                self.expect("(")
                self.next()
                self.expect(")")
                self.expect(";")
                continue
            if self.accept("typedef"):
                lib.enums.append(self.enum())
                continue
            line = self.peek().line
            attrs = self.attributes()
            keyword = self.peek().text
            if keyword == "interface":
                lib.interfaces.append(self.interface(attrs, line))
            elif keyword == "dispinterface":
                lib.interfaces.append(self.dispinterface(attrs, line))
            elif keyword == "coclass":
                lib.coclasses.append(self.coclass(attrs, line))
            else:
                self.error(f"unexpected '{keyword}' in library")
        self.accept(";")
        return lib

    def enum(self) -> EnumType:
        line = self.peek().line
        attrs = self.attributes()
        self.expect("enum")
        name = self.name()
        self.expect("{")
        members: list[tuple[str, int]] = []
        value = 0
        while not self.accept("}"):
            member = self.name()
            if self.accept("="):
                t = self.next()
                if t.kind != "number" or not isinstance(parse_number(t.text), int):
                    self.error(f"enumeration value of {member} must be an integer", t)
                value = parse_number(t.text)
            if not -2**31 <= value < 2**31:
                self.error(f"{member} = {value} does not fit 32 bits")
            members.append((member, value))
            value += 1
            if not self.accept(","):
                self.expect("}")
                break
        alias = self.name()
        if alias != name:
            self.error(f"typedef name '{alias}' differs from enum name '{name}'")
        self.expect(";")
        return EnumType(name, require(attrs, "uuid", line, self.path), attrs.get("helpstring", ""),
                        members, line)

    def interface(self, attrs: dict, line: int) -> Interface:
        self.expect("interface")
        name = self.name()
        self.expect(":")
        base = self.name()
        if base != "IDispatch":
            self.error(f"{name} must derive from IDispatch")
        itf = Interface(name, require(attrs, "uuid", line, self.path), attrs.get("helpstring", ""),
                        base, "dual" in attrs, False, [], line)
        self.expect("{")
        while not self.accept("}"):
            itf.members.append(self.member())
        self.expect(";")
        return itf

    def dispinterface(self, attrs: dict, line: int) -> Interface:
        self.expect("dispinterface")
        name = self.name()
        self.expect("{")
        for section in ("properties", "methods"):
            if self.accept(section):
                self.expect(":")
        self.expect("}")
        self.expect(";")
        return Interface(name, require(attrs, "uuid", line, self.path), attrs.get("helpstring", ""),
                         "IDispatch", False, True, [], line)

    def coclass(self, attrs: dict, line: int) -> CoClass:
        self.expect("coclass")
        name = self.name()
        self.expect("{")
        default = source = None
        while not self.accept("}"):
            iattrs = self.attributes()
            kind = self.next().text
            if kind not in ("interface", "dispinterface"):
                self.error(f"expected interface or dispinterface in coclass {name}")
            iname = self.name()
            self.expect(";")
            if "source" in iattrs:
                source = iname
            elif "default" in iattrs or default is None:
                default = iname
        self.expect(";")
        if not default:
            self.error(f"coclass {name} has no default interface")
        script = attrs.get("registry_script")
        if script is not None and (not isinstance(script, int) or not 0 < script < 65536):
            self.error(f"registry_script of coclass {name} must be a resource id from 1 to 65535")
        return CoClass(name, require(attrs, "uuid", line, self.path), attrs.get("helpstring", ""),
                       default, source, line, script, "aggregatable" in attrs)

    def member(self) -> Member:
        line = self.peek().line
        attrs = self.attributes()
        if self.name() != "HRESULT":
            self.error("members must return HRESULT")
        name = self.name()
        kind = "propget" if "propget" in attrs else "propput" if "propput" in attrs else "method"
        if "id" not in attrs:
            self.error(f"{name} has no id")
        dispid = attrs["id"]
        if isinstance(dispid, str):
            dispid = {"DISPID_VALUE": 0, "DISPID_NEWENUM": -4}.get(dispid)
            if dispid is None:
                self.error(f"unknown dispatch id name in {name}")
        if not isinstance(dispid, int):
            self.error(f"dispatch id of {name} must be an integer")
        self.expect("(")
        params: list[Param] = []
        if not self.accept(")"):
            if self.peek().text == "void" and self.peek(1).text == ")":
                self.next()
                self.expect(")")
            else:
                while True:
                    params.append(self.param())
                    if self.accept(")"):
                        break
                    self.expect(",")
        self.expect(";")
        return Member(name, kind, dispid, attrs.get("helpstring", ""), params, line)

    def param(self) -> Param:
        line = self.peek().line
        attrs = self.attributes()
        type_name = self.name()
        stars = 0
        while self.accept("*"):
            stars += 1
        name = self.name()
        out = "out" in attrs
        if type_name in ("IDispatch", "IUnknown"):
            if stars == 0:
                self.error(f"{type_name} must be passed by pointer")
            type_name += "*"
            stars -= 1
        if out and stars != 1:
            self.error(f"out parameter {name} must be a pointer")
        if not out and stars != 0:
            self.error(f"in parameter {name} must not be a pointer")
        p = Param(name, type_name, out, "retval" in attrs, "optional" in attrs or "defaultvalue" in attrs,
                  attrs.get("defaultvalue"), "defaultvalue" in attrs, line)
        return p


def require(attrs: dict, key: str, line: int, path: str):
    if key not in attrs:
        raise IdlError(f"missing {key}", line, path)
    return attrs[key]


def parse_number(text: str):
    negative = text.startswith("-")
    body = text[1:] if negative else text
    if body.lower().startswith("0x"):
        value = int(body, 16)
    elif re.fullmatch(r"\d+", body):
        value = int(body)
    else:
        return -float(body) if negative else float(body)
    return -value if negative else value


def parse_version(v) -> tuple[int, int]:
    text = str(v)
    major, _, minor = text.partition(".")
    return int(major), int(minor or 0)


def unescape(s: str) -> str:
    return re.sub(r"\\(.)", r"\1", s[1:-1])


# --------------------------------------------------------------------------------------------
# Checks
# --------------------------------------------------------------------------------------------

def check(lib: Library, path: str = "<idl>") -> None:
    enums = {e.name: e for e in lib.enums}
    enum_members: dict[str, int] = {}
    guids: dict[str, str] = {lib.uuid: lib.name}
    names: set[str] = set()

    def unique_guid(g: str, owner: str, line: int):
        if g in guids:
            raise IdlError(f"{owner} reuses the GUID of {guids[g]}", line, path)
        guids[g] = owner

    def unique_name(n: str, line: int):
        if n in names:
            raise IdlError(f"{n} is declared twice", line, path)
        names.add(n)

    for e in lib.enums:
        unique_guid(e.uuid, e.name, e.line)
        unique_name(e.name, e.line)
        seen = set()
        for member, value in e.members:
            if member in seen:
                raise IdlError(f"{e.name}.{member} is declared twice", e.line, path)
            seen.add(member)
            enum_members.setdefault(member, value)
    interfaces = {}
    for itf in lib.interfaces:
        unique_guid(itf.uuid, itf.name, itf.line)
        unique_name(itf.name, itf.line)
        interfaces[itf.name] = itf
        ids: dict[int, list[Member]] = {}
        for m in itf.members:
            for p in m.params:
                if p.type not in BASE_TYPES and p.type not in enums:
                    raise IdlError(f"{itf.name}.{m.name}: unknown type '{p.type}'", p.line, path)
                if p.has_default:
                    p.default = check_default(p, enums, enum_members, f"{itf.name}.{m.name}", path)
            retvals = [p for p in m.params if p.retval]
            ins = [p for p in m.params if not p.out]
            if len(retvals) > 1 or (retvals and m.params[-1] is not retvals[0]):
                raise IdlError(f"{itf.name}.{m.name}: the retval must be the one last parameter", m.line, path)
            if m.kind == "propget" and not any(p.out for p in m.params):
                raise IdlError(f"{itf.name}.{m.name}: a property get needs an out parameter", m.line, path)
            if m.kind == "propput" and (not ins or any(p.out for p in m.params)):
                raise IdlError(f"{itf.name}.{m.name}: a property put takes in parameters only", m.line, path)
            optional_seen = False
            for p in ins:
                if p.optional:
                    optional_seen = True
                elif optional_seen:
                    raise IdlError(f"{itf.name}.{m.name}: {p.name} follows an optional parameter", p.line, path)
            ids.setdefault(m.dispid, []).append(m)
        for dispid, ms in ids.items():
            kinds = sorted(m.kind for m in ms)
            same_name = len({m.name for m in ms}) == 1
            if len(ms) > 1 and not (same_name and kinds in (["propget", "propput"],)):
                raise IdlError(f"{itf.name}: dispatch id {dispid} is used by {', '.join(m.name for m in ms)}",
                               ms[1].line, path)
    for c in lib.coclasses:
        unique_guid(c.uuid, c.name, c.line)
        unique_name(c.name, c.line)
        for ref in (c.default, c.source):
            if ref and ref not in interfaces:
                raise IdlError(f"coclass {c.name} names unknown interface {ref}", c.line, path)


def check_default(p: Param, enums, enum_members, where: str, path: str):
    value = p.default
    if p.type in enums:
        if isinstance(value, str):
            if value not in dict(enums[p.type].members):
                raise IdlError(f"{where}: {value} is not a member of {p.type}", p.line, path)
            return dict(enums[p.type].members)[value]
        if not isinstance(value, int):
            raise IdlError(f"{where}: default of {p.name} must be an integer", p.line, path)
        return value
    if p.type in ("long", "short", "VARIANT_BOOL"):
        if isinstance(value, str) and value in enum_members:
            return enum_members[value]
        if isinstance(value, str) and p.type == "VARIANT_BOOL" and value in ("VARIANT_TRUE", "VARIANT_FALSE"):
            return -1 if value == "VARIANT_TRUE" else 0
        if not isinstance(value, int):
            raise IdlError(f"{where}: default of {p.name} must be an integer", p.line, path)
        return value
    if p.type in ("float", "double"):
        if not isinstance(value, (int, float)):
            raise IdlError(f"{where}: default of {p.name} must be a number", p.line, path)
        return float(value)
    if p.type == "BSTR":
        if not isinstance(value, str):
            raise IdlError(f"{where}: default of {p.name} must be a string", p.line, path)
        return value
    raise IdlError(f"{where}: {p.type} parameters cannot have a default", p.line, path)


def parse(text: str, path: str = "<idl>") -> Library:
    lib = Parser(text, path).parse()
    check(lib, path)
    return lib


# --------------------------------------------------------------------------------------------
# Output helpers
# --------------------------------------------------------------------------------------------

def guid_initializer(g: str) -> str:
    parts = g.split("-")
    data4 = parts[3] + parts[4]
    bytes_ = ", ".join(f"0x{data4[i:i + 2]}" for i in range(0, 16, 2))
    return f"{{0x{parts[0]}, 0x{parts[1]}, 0x{parts[2]}, {{{bytes_}}}}}"


def method_name(m: Member) -> str:
    return {"propget": "get_", "propput": "put_"}.get(m.kind, "") + m.name


def cpp_type(p: Param, enums) -> str:
    base = p.type if p.type in enums else BASE_TYPES[p.type][0]
    return base + ("*" if p.out else "")


def c_string(s: str) -> str:
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def float_literal(v: float) -> str:
    text = repr(float(v))
    return text if ("e" in text or "." in text or "inf" in text) else text + ".0"


# --------------------------------------------------------------------------------------------
# Header
# --------------------------------------------------------------------------------------------

def header(lib: Library, source_name: str) -> str:
    enums = {e.name: e for e in lib.enums}
    out: list[str] = []
    w = out.append
    w(f"// vantor/vantor.h — generated from {source_name} by tools/idlgen.py; do not edit.")
    w("//")
    w(f"// {lib.help}: the interfaces of the component, their GUIDs and the enumerations.")
    w("// C++ hosts call the interfaces directly after CoCreateInstance:")
    w("//")
    w("//   IColour* colour = nullptr;")
    w("//   CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IColour, (void**)&colour);")
    w("//   colour->put_Red(0.5f);")
    w("//   colour->Release();")
    w("//")
    w("// Every member returns an HRESULT; on failure the thread's error information (GetErrorInfo)")
    w("// holds the description and the class's ProgID as source, unless the member says otherwise.")
    w("#pragma once")
    w("")
    w("#include <vantor/com.h>")
    w("")
    w(f"inline constexpr GUID LIBID_{lib.name} = {guid_initializer(lib.uuid)};")
    w("")
    w("// Enumerations")
    for e in lib.enums:
        w("")
        w(f"// {e.help}")
        w(f"enum {e.name} : int32_t {{")
        for member, value in e.members:
            w(f"    {member} = {value},")
        w("};")
    w("")
    w("// Interfaces")
    for itf in lib.interfaces:
        if itf.dispinterface:
            w("")
            w(f"// {itf.help} (outgoing; no members)")
            w(f"inline constexpr IID DIID_{itf.name} = {guid_initializer(itf.uuid)};")
            continue
        w("")
        w(f"// {itf.help}")
        w(f"struct {itf.name} : IDispatch {{")
        for m in itf.members:
            params = ", ".join(f"{cpp_type(p, enums)} {p.name}" for p in m.params)
            w(f"    virtual HRESULT {method_name(m)}({params}) = 0;  // [{m.dispid}] {m.help}")
        w("};")
        w(f"VANTOR_DEFINE_UUID({itf.name}, IID_{itf.name}, {guid_initializer(itf.uuid)[1:-1].replace('{', '').replace('}', '')})")
    w("")
    w("// Classes")
    for c in lib.coclasses:
        w(f"inline constexpr CLSID CLSID_{c.name} = {guid_initializer(c.uuid)};  // {c.help}")
    w("")
    return "\n".join(out)


# --------------------------------------------------------------------------------------------
# Type library source
# --------------------------------------------------------------------------------------------

def stub(itf: Interface, m: Member, enums) -> list[str]:
    lines = [f"HRESULT stub_{itf.name}_{method_name(m)}(void* self, VARIANT* a, VARIANT* r) {{"]
    args: list[str] = []
    pre: list[str] = []
    post: list[str] = []
    index = 0
    for p in m.params:
        if p.retval:
            if p.type == "VARIANT":
                pre.append("    VARIANT v;")
                pre.append("    VariantInit(&v);")
                args.append("&v")
                post.append("    if (SUCCEEDED(hr)) *r = v; else VariantClear(&v);")
            else:
                ctype = p.type if p.type in enums else BASE_TYPES[p.type][0]
                vt = "VT_I4" if p.type in enums else BASE_TYPES[p.type][1]
                field = "lVal" if p.type in enums else BASE_TYPES[p.type][2]
                pre.append(f"    {ctype} v{{}};")
                args.append("&v")
                value = "static_cast<LONG>(v)" if p.type in enums else "v"
                post.append(f"    if (SUCCEEDED(hr)) {{ r->vt = {vt}; r->{field} = {value}; }}")
            continue
        slot = f"a[{index}]"
        index += 1
        if p.out:
            if p.type == "VARIANT":
                args.append(f"{slot}.pvarVal")
            elif p.type in enums:
                args.append(f"reinterpret_cast<{p.type}*>({slot}.plVal)")
            else:
                vt_field = {"long": "plVal", "short": "piVal", "float": "pfltVal", "double": "pdblVal",
                            "VARIANT_BOOL": "pboolVal", "BSTR": "pbstrVal", "IDispatch*": "ppdispVal",
                            "IUnknown*": "ppunkVal"}[p.type]
                args.append(f"{slot}.{vt_field}")
        elif p.type == "VARIANT":
            args.append(slot)
        elif p.type in enums:
            args.append(f"static_cast<{p.type}>({slot}.lVal)")
        else:
            args.append(f"{slot}.{BASE_TYPES[p.type][2]}")
    lines += pre
    lines.append(f"    HRESULT hr = static_cast<{itf.name}*>(self)->{method_name(m)}({', '.join(args)});")
    lines += post
    if not post:
        lines.append("    (void)r;")
    if index == 0:
        lines.append("    (void)a;")
    lines.append("    return hr;")
    lines.append("}")
    return lines


def param_desc(p: Param, enum_index) -> str:
    if p.type in enum_index:
        vt, enum = "VT_I4", enum_index[p.type]
    else:
        vt, enum = BASE_TYPES[p.type][1], -1
    flags = ["PARAMFLAG_FOUT" if p.out else "PARAMFLAG_FIN"]
    if p.retval:
        flags.append("PARAMFLAG_FRETVAL")
    if p.optional:
        flags.append("PARAMFLAG_FOPT")
    if p.has_default:
        flags.append("PARAMFLAG_FHASDEFAULT")
    default_vt, default_num, default_str = "VT_EMPTY", "0.0", "nullptr"
    if p.has_default:
        if p.type == "BSTR":
            default_vt, default_str = "VT_BSTR", c_string(p.default)
        elif p.type in ("float", "double"):
            default_vt = "VT_R4" if p.type == "float" else "VT_R8"
            default_num = float_literal(p.default)
        elif p.type == "VARIANT_BOOL":
            default_vt, default_num = "VT_BOOL", float_literal(-1 if p.default else 0)
        elif p.type == "short":
            default_vt, default_num = "VT_I2", float_literal(p.default)
        else:
            default_vt, default_num = "VT_I4", float_literal(p.default)
    return (f"{{{c_string(p.name)}, {vt}, {' | '.join(flags)}, {enum}, {default_vt}, {default_num}, "
            f"{default_str}}}")


def source(lib: Library, source_name: str) -> str:
    enums = {e.name: e for e in lib.enums}
    enum_index = {e.name: i for i, e in enumerate(lib.enums)}
    itf_index = {itf.name: i for i, itf in enumerate(lib.interfaces)}
    out: list[str] = []
    w = out.append
    w(f"// Generated from {source_name} by tools/idlgen.py; do not edit.")
    w("// The type library description and one invoke stub per interface member.")
    w("#include <vantor/typedesc.h>")
    w("#include <vantor/vantor.h>")
    w("")
    w("namespace {")
    w("")
    w("using namespace vantor::typedesc;")
    w("")
    for itf in lib.interfaces:
        for m in itf.members:
            out.extend(stub(itf, m, enums))
            w("")
    for e in lib.enums:
        w(f"const EnumMemberDesc kEnum_{e.name}[] = {{")
        for member, value in e.members:
            w(f"    {{{c_string(member)}, {value}}},")
        w("};")
    w("")
    for itf in lib.interfaces:
        for m in itf.members:
            if not m.params:
                continue
            w(f"const ParamDesc kParams_{itf.name}_{method_name(m)}[] = {{")
            for p in m.params:
                w(f"    {param_desc(p, enum_index)},")
            w("};")
        if itf.members:
            w(f"const MemberDesc kMembers_{itf.name}[] = {{")
            for n, m in enumerate(itf.members):
                kind = {"method": "INVOKE_FUNC", "propget": "INVOKE_PROPERTYGET",
                        "propput": "INVOKE_PROPERTYPUT"}[m.kind]
                params = f"kParams_{itf.name}_{method_name(m)}" if m.params else "nullptr"
                w(f"    {{{m.dispid}, {kind}, {c_string(m.name)}, {c_string(m.help)}, {len(m.params)}, "
                  f"{params}, {7 + n}, stub_{itf.name}_{method_name(m)}}},")
            w("};")
    w("")
    w("const EnumDesc kEnums[] = {")
    for e in lib.enums:
        w(f"    {{{guid_initializer(e.uuid)}, {c_string(e.name)}, {c_string(e.help)}, {len(e.members)}, "
          f"kEnum_{e.name}}},")
    w("};")
    w("")
    w("const InterfaceDesc kInterfaces[] = {")
    for itf in lib.interfaces:
        flags = "TYPEFLAG_FDISPATCHABLE" if itf.dispinterface else \
            "TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION"
        members = f"kMembers_{itf.name}" if itf.members else "nullptr"
        w(f"    {{{guid_initializer(itf.uuid)}, {c_string(itf.name)}, {c_string(itf.help)}, {flags}, "
          f"{'true' if itf.dispinterface else 'false'}, {len(itf.members)}, {members}}},")
    w("};")
    w("")
    w("const CoClassDesc kCoClasses[] = {")
    for c in lib.coclasses:
        src = itf_index[c.source] if c.source else -1
        w(f"    {{{guid_initializer(c.uuid)}, {c_string(c.name)}, {c_string(c.help)}, {itf_index[c.default]}, {src}}},")
    w("};")
    w("")
    w("}  // namespace")
    w("")
    w("namespace vantor::generated {")
    w("")
    w(f"extern const TypeLibDesc kTypeLib = {{{guid_initializer(lib.uuid)}, {c_string(lib.name)}, "
      f"{c_string(lib.help)}, {lib.version[0]}, {lib.version[1]}, {len(lib.enums)}, kEnums, "
      f"{len(lib.interfaces)}, kInterfaces, {len(lib.coclasses)}, kCoClasses}};")
    w("")
    w("}  // namespace vantor::generated")
    w("")
    return "\n".join(out)


# --------------------------------------------------------------------------------------------
# Class table
# --------------------------------------------------------------------------------------------

def classes(lib: Library, source_name: str, path: str = "<idl>") -> str:
    scripts: dict[int, str] = {}
    for c in lib.coclasses:
        if c.script is None:
            raise IdlError(f"coclass {c.name} has no registry_script", c.line, path)
        if c.script in scripts:
            raise IdlError(f"coclass {c.name} reuses registry script {c.script} of {scripts[c.script]}", c.line, path)
        scripts[c.script] = c.name
    rows = sorted(lib.coclasses, key=lambda c: c.name)
    out: list[str] = []
    w = out.append
    w(f"// Generated from {source_name} by tools/idlgen.py; do not edit.")
    w("// The class table: every co-class in alphabetical order. A class's own file defines")
    w("// create_class<its interface>; the declarations here are weak, so a co-class whose class is")
    w("// not built into the component has no creator and is neither registered nor creatable.")
    w('#include "module/module.h"')
    w("")
    w("#include <vantor/vantor.h>")
    w("")
    w("#include <vector>")
    w("")
    w("namespace vantor {")
    w("")
    for c in rows:
        w(f"template <> HRESULT create_class<{c.default}>(IUnknown*, REFIID, void**) __attribute__((weak));")
    w("")
    w("namespace {")
    w("")
    w("const ClassEntry kCoClasses[] = {")
    for c in rows:
        w(f"    {{&CLSID_{c.name}, {c_string(c.name)}, {c.script}, {'true' if c.aggregatable else 'false'}, "
          f"&create_class<{c.default}>}},")
    w("};")
    w("")
    w("}  // namespace")
    w("")
    w("const ClassEntry* class_table(size_t* count) {")
    w("    static const auto built = [] {")
    w("        std::vector<ClassEntry> rows;")
    w("        for (const ClassEntry& e : kCoClasses)")
    w("            if (e.create) rows.push_back(e);")
    w("        return rows;")
    w("    }();")
    w("    *count = built.size();")
    w("    return built.data();")
    w("}")
    w("")
    w("}  // namespace vantor")
    w("")
    return "\n".join(out)


# --------------------------------------------------------------------------------------------
# Documentation
# --------------------------------------------------------------------------------------------

def docs(lib: Library, source_name: str) -> str:
    enums = {e.name for e in lib.enums}
    interfaces = {i.name: i for i in lib.interfaces}
    out: list[str] = []
    w = out.append
    w(f"# {lib.name} API reference")
    w("")
    w(f"Generated from `{source_name}` by `tools/idlgen.py`. {lib.help}, version "
      f"{lib.version[0]}.{lib.version[1]}.")
    w("")
    w("Members are listed in vtable order with their dispatch ids. Scripts reach every member by name")
    w("through late binding; property gets with parameters (`Item`, `Add`, ...) are called like methods.")
    w("")
    w("## Classes")
    w("")
    for c in lib.coclasses:
        itf = interfaces[c.default]
        w(f"### {c.name}")
        w("")
        w(f"ProgID `Vantor.{c.name}.1` (`Vantor.{c.name}`), interface `{itf.name}`. {itf.help}")
        w("")
        if not itf.members:
            w("No members.")
            w("")
            continue
        w("| id | member | kind | parameters | returns | description |")
        w("|---|---|---|---|---|---|")
        for m in itf.members:
            ins = []
            ret = ""
            for p in m.params:
                if p.retval:
                    ret = f"`{p.type}`"
                    continue
                text = f"{'[out] ' if p.out else ''}`{p.type}` {p.name}"
                if p.has_default:
                    text += f" = {p.default}"
                elif p.optional:
                    text += " (optional)"
                ins.append(text)
            kind = {"propget": "get", "propput": "put", "method": "method"}[m.kind]
            w(f"| {m.dispid} | {m.name} | {kind} | {', '.join(ins)} | {ret} | {m.help} |")
        w("")
    w("## Enumerations")
    w("")
    for e in lib.enums:
        w(f"### {e.name}")
        w("")
        w(e.help)
        w("")
        w(", ".join(f"`{n}` = {v}" for n, v in e.members))
        w("")
    del enums
    return "\n".join(out)


# --------------------------------------------------------------------------------------------
# Test spies: every interface implemented by an object that logs each call and answers S_OK
# (or a failure the test chose), for tests of what an object asks of its collaborators.
# --------------------------------------------------------------------------------------------

def spy_argument(p: Param, enums) -> str:
    if p.out:
        return '"out"'
    if p.type in ("long", "short") or p.type in enums:
        return f"spy::number(static_cast<long long>({p.name}))"
    if p.type in ("float", "double"):
        return f"spy::real({p.name})"
    if p.type == "VARIANT_BOOL":
        return f"spy::number({p.name})"
    if p.type == "BSTR":
        return f"spy::text({p.name})"
    if p.type == "VARIANT":
        return f"spy::variant({p.name})"
    return f"spy::object({p.name})"


def spies(lib: Library, source_name: str) -> str:
    enums = {e.name: e for e in lib.enums}
    itfs = {i.name: i for i in lib.interfaces}
    out: list[str] = []
    w = out.append
    w(f"// Generated from {source_name} by tools/idlgen.py; do not edit.")
    w("// Spies: every class of the type library as an object that logs its calls (tests only).")
    w('#include "spy.h"')
    w("")
    w("namespace vantor::spy {")
    w("")
    for itf in lib.interfaces:
        if itf.dispinterface:
            continue
        w(f"class Spy_{itf.name} final : public SpyObject<{itf.name}> {{")
        w("public:")
        w(f"    using SpyObject<{itf.name}>::SpyObject;")
        for m in itf.members:
            params = ", ".join(f"{cpp_type(p, enums)} {p.name}" for p in m.params)
            args = ", ".join(spy_argument(p, enums) for p in m.params if not p.out)
            w(f"    HRESULT {method_name(m)}({params}) override {{")
            for p in m.params:
                if p.out:
                    if p.type == "VARIANT":
                        w(f"        if ({p.name}) VariantInit({p.name});")
                    else:
                        w(f"        if ({p.name}) *{p.name} = {{}};")
            w(f'        return call("{method_name(m)}", {{{args}}});')
            w("    }")
        w("};")
        w("")
    w("Creator creator_for(REFCLSID clsid) {")
    for c in lib.coclasses:
        w(f"    if (clsid == CLSID_{c.name}) return [](const char* name) -> IUnknown* "
          f"{{ return static_cast<{c.default}*>(new Spy_{c.default}(name)); }};")
    w("    return nullptr;")
    w("}")
    w("")
    w("const char* class_name(REFCLSID clsid) {")
    for c in lib.coclasses:
        w(f'    if (clsid == CLSID_{c.name}) return "{c.name}";')
    w("    return nullptr;")
    w("}")
    w("")
    w("}  // namespace vantor::spy")
    w("")
    del itfs
    return "\n".join(out)


# --------------------------------------------------------------------------------------------

# --------------------------------------------------------------------------------------------
# Python stubs: vantor/__init__.pyi, so editors and type checkers know every class, member and
# constant that scripts reach by late binding.
# --------------------------------------------------------------------------------------------

# Objects the type library hands out as plain IDispatch, by the name of the member that returns
# them (when the member's name is not itself a class).
STUB_ALIASES = {
    "Ambient": "Colour", "Diffuse": "Colour", "Specular": "Colour", "Emissive": "Colour",
    "LookAt": "Position", "Direction": "Position",
    "TopLeft": "Position", "TopRight": "Position", "BottomLeft": "Position", "BottomRight": "Position",
}

STUB_BASE = {"long": "int", "short": "int", "float": "float", "double": "float", "VARIANT_BOOL": "bool",
             "BSTR": "str", "VARIANT": "Any", "IDispatch*": "Any", "IUnknown*": "Any"}

# The package's own Python parts, written by hand beside the generated classes.
STUB_PRELUDE = '''\
"""Types of the vantor package, generated from the type library by tools/idlgen.py."""
from typing import Any, Final, Iterator, Literal, NewType, overload

from . import registry as registry, resources as resources

__all__ = ["Window", "Dispatch", "COMError", "MemberNotFoundError", "constants", "debug_output", "register",
           "unregister", "can_unload_now", "registry", "resources", "component_path", "type_library"]


class COMError(Exception):
    hresult: int
    description: str
    source: str
    def __init__(self, hresult: int, description: str = ..., source: str = ...) -> None: ...


class MemberNotFoundError(COMError, AttributeError): ...


class Window:
    def __init__(self, width: int, height: int, title: str = ..., visible: bool = ...) -> None: ...
    @classmethod
    def attach(cls, xid: int) -> Window: ...
    @property
    def handle(self) -> int: ...
    @property
    def kind(self) -> str: ...
    @property
    def xid(self) -> int: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    title: str
    @property
    def closed(self) -> bool: ...
    def pump(self) -> bool: ...
    def resize(self, width: int, height: int) -> None: ...
    def pixels(self) -> bytes: ...
    def save_png(self, path: str) -> None: ...
    def close(self) -> None: ...
    def __enter__(self) -> Window: ...
    def __exit__(self, *exc: object) -> bool: ...


class debug_output:
    def __enter__(self) -> debug_output: ...
    def __exit__(self, *exc: object) -> bool: ...
    @property
    def text(self) -> str: ...
    def clear(self) -> None: ...


def component_path() -> str: ...
def register() -> None: ...
def unregister() -> None: ...
def can_unload_now() -> bool: ...
def type_library() -> dict[str, Any]: ...
'''


def stub_object_type(lib: Library, owner: Interface, m: Member) -> str:
    """The interface that a member returning IDispatch (or an Item's VARIANT) hands out, "Any"
    when the type library does not say."""
    interfaces = {i.name for i in lib.interfaces}
    classes = {c.name: c.default for c in lib.coclasses}
    element = owner.name[:-1] if owner.name.endswith("s") else ""
    takes_arguments = any(not p.retval and not p.out for p in m.params)
    if element in interfaces and (m.name == "Item" or takes_arguments):
        return element      # a collection's Item, Add, AddBox, LoadFile... hand out its element
    if m.name in classes:
        return classes[m.name]
    if m.name in STUB_ALIASES:
        return classes[STUB_ALIASES[m.name]]
    # A class named after its owner: Device3D.Caps is a DeviceCaps, Textures.Caps a TextureCaps.
    stem = re.sub(r"(3D|s)$", "", owner.name[1:])
    if stem + m.name in classes:
        return classes[stem + m.name]
    return "Any"


def stub_type(lib: Library, owner: Interface, m: Member, p: Param, enums: set, accept: bool) -> str:
    """A parameter's Python type: what a script may pass (accept) or what it gets back."""
    if p.type in enums:
        return f"{p.type} | int" if accept else p.type
    if p.type in ("IDispatch*", "VARIANT") and (p.retval or p.out):
        return stub_object_type(lib, owner, m)
    if p.type == "IDispatch*" and accept:
        return stub_object_type(lib, owner, m) if m.kind == "propput" else "Any"
    return STUB_BASE.get(p.type, "Any")


def stub_default(p: Param) -> str:
    if p.type == "VARIANT_BOOL":
        return "True" if p.default else "False"
    if isinstance(p.default, (int, float, str)):
        return repr(p.default)
    return "..."


def stub_members(lib: Library, itf: Interface, enums: set) -> list[str]:
    body: list[str] = []
    puts = {m.name: m for m in itf.members if m.kind == "propput"}
    plain_gets = {m.name for m in itf.members if m.kind == "propget" and all(p.retval for p in m.params)}
    for m in itf.members:
        if m.name.startswith("_"):
            continue
        ins = [p for p in m.params if not p.retval and not p.out]
        ret = next((p for p in m.params if p.retval or p.out), None)
        if m.kind == "propget" and not ins:
            got = stub_type(lib, itf, m, ret, enums, False) if ret else "Any"
            if m.name in puts:
                value = puts[m.name].params[0]
                # The setter takes what the getter gives (type checkers read both as one type);
                # an enumeration takes any int, as the engine does.
                kind = "int" if value.type in enums else got
                body.append(f"    {m.name}: {kind}")
            else:
                body += ["    @property", f"    def {m.name}(self) -> {got}: ..."]
            continue
        if m.kind == "propput":
            if m.name not in plain_gets:
                body.append(f"    {m.name}: {stub_type(lib, itf, m, m.params[0], enums, True)}")
            continue
        args = ["self"]
        for p in ins:
            text = f"{p.name}: {stub_type(lib, itf, m, p, enums, True)}"
            if p.has_default:
                text += f" = {stub_default(p)}"
            elif p.optional:
                text += " = ..."
            args.append(text)
        result = stub_type(lib, itf, m, ret, enums, False) if ret else "None"
        body.append(f"    def {m.name}({', '.join(args)}) -> {result}: ...")
        if m.name == "Item":
            body += [f"    def __call__(self, Index: int | str) -> {result}: ...",
                     f"    def __getitem__(self, Index: int | str) -> {result}: ...",
                     f"    def __iter__(self) -> Iterator[{result}]: ...",
                     "    def __len__(self) -> int: ..."]
    return body or ["    ..."]


def stubs(lib: Library, source_name: str) -> str:
    enums = {e.name for e in lib.enums}
    out: list[str] = [STUB_PRELUDE]
    w = out.append
    w(f"# Enumerations of {source_name}: the constants are typed by their enumeration, and every")
    w("# parameter or property of an enumeration's type also takes a plain int.")
    for e in lib.enums:
        w(f"{e.name} = NewType({e.name!r}, int)")
    w("")
    w("")
    w("class _Constants:")
    w('    """Every enumeration member of the type library, by name."""')
    for e in lib.enums:
        for name, _ in e.members:
            w(f"    {name}: Final[{e.name}]")
    w("    def enumerations(self) -> dict[str, dict[str, int]]: ...")
    w("")
    w("")
    w("constants: _Constants")
    for itf in lib.interfaces:
        if itf.dispinterface:
            continue
        w("")
        w("")
        w(f"class {itf.name}:")
        w(f'    """{itf.help}"""')
        out.extend(stub_members(lib, itf, enums))
    w("")
    w("")
    for c in lib.coclasses:
        progid = f"Vantor.{c.name}"
        names = ", ".join(repr(n) for n in (progid, f"{progid}.1", "{" + c.uuid.upper() + "}"))
        w("@overload")
        w(f"def Dispatch(progid: Literal[{names}]) -> {c.default}: ...")
    w("@overload")
    w("def Dispatch(progid: str) -> Any: ...")
    w("")
    return "\n".join(out)


def write_if_changed(path: str, text: str) -> None:
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("idl")
    ap.add_argument("--header")
    ap.add_argument("--source")
    ap.add_argument("--docs")
    ap.add_argument("--spies")
    ap.add_argument("--classes")
    ap.add_argument("--stubs")
    args = ap.parse_args(argv)
    with open(args.idl, encoding="utf-8") as f:
        text = f.read()
    name = os.path.basename(args.idl)
    try:
        lib = parse(text, args.idl)
    except IdlError as e:
        print(f"idlgen: {e}", file=sys.stderr)
        return 1
    if args.header:
        write_if_changed(args.header, header(lib, name))
    if args.source:
        write_if_changed(args.source, source(lib, name))
    if args.docs:
        write_if_changed(args.docs, docs(lib, name))
    if args.spies:
        write_if_changed(args.spies, spies(lib, name))
    if args.stubs:
        write_if_changed(args.stubs, stubs(lib, name))
        # The extension is reached only through the package's own modules, untyped.
        write_if_changed(os.path.join(os.path.dirname(args.stubs) or ".", "_vantor.pyi"),
                         "from typing import Any\n\n\ndef __getattr__(name: str) -> Any: ...\n")
    if args.classes:
        try:
            text = classes(lib, name, args.idl)
        except IdlError as e:
            print(f"idlgen: {e}", file=sys.stderr)
            return 1
        write_if_changed(args.classes, text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
