#!/usr/bin/env python3
"""Generates the typed NF-e 3.10 binding (unit nfe_v310) from the published schema files.

Usage: gen_nfe_binding.py SCHEMA_DIR OUT_DIR PARTS

Writes OUT_DIR/nfe_v310.h and OUT_DIR/nfe_v310_1.cpp .. nfe_v310_PARTS.cpp. The rule:
- one class per element type reachable from the element NFe: a named type keeps its name
  (TXML + type name), an anonymous type takes the element name with its first letter upper-cased;
- per class, in schema order, a getter and a setter for every attribute and simple child element,
  a typed getter for every complex child element, and a collection getter for the repeating
  elements listed in CHILD_COLLECTIONS; every other repeating element is bound as a single child;
- the types in SELF_COLLECTIONS hold only their repeating items and are collections themselves;
- accessor names are Get_/Set_ + the XML name with its first letter upper-cased, plus "_" when the
  name is a reserved word (C++ keywords, and "mod" and "type", compared without case).
The build fails when the schema and these lists disagree (a listed collection that does not repeat,
two different types that would get one class name).
"""

import os
import re
import sys
import xml.etree.ElementTree as ET

XS = 'http://www.w3.org/2001/XMLSchema'
NFE_NS = 'http://www.portalfiscal.inf.br/nfe'
DS_NS = 'http://www.w3.org/2000/09/xmldsig#'
ROOT_SCHEMA = 'nfe_v3.10.xsd'

CHILD_COLLECTIONS = {
    ('TXMLIde', 'NFref'), ('TXMLInfNFe', 'det'), ('TXMLInfNFe', 'pag'),
    ('TXMLProd', 'NVE'), ('TXMLProd', 'detExport'), ('TXMLProd', 'med'), ('TXMLProd', 'arma'),
    ('TXMLTransp', 'reboque'), ('TXMLTransp', 'vol'), ('TXMLVol', 'lacres'), ('TXMLCana', 'forDia'),
}
SELF_COLLECTIONS = {'TXMLTransformsType': 'Transform', 'TXMLTransformType': 'XPath'}

CPP_KEYWORDS = set('''alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t
char16_t char32_t class compl concept const consteval constexpr constinit const_cast continue co_await
co_return co_yield decltype default delete do double dynamic_cast else enum explicit export extern false
float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or
or_eq private protected public register reinterpret_cast requires return short signed sizeof static
static_assert static_cast struct switch template this thread_local throw true try typedef typeid typename
union unsigned using virtual void volatile wchar_t while xor xor_eq'''.split())
RESERVED = CPP_KEYWORDS | {'mod', 'type'}


def q(tag):
    return '{%s}%s' % (XS, tag)


class Fail(Exception):
    pass


class Schemas:
    """The global types and elements of the schema files, with each file's prefix map."""

    def __init__(self, folder):
        self.folder = folder
        self.types = {}      # (ns, name) -> (node, file)
        self.elements = {}   # (ns, name) -> (node, file)
        self.prefixes = {}   # file -> {prefix: ns}
        self.loaded = set()
        self.load(ROOT_SCHEMA)

    def load(self, name):
        if name in self.loaded:
            return
        self.loaded.add(name)
        path = os.path.join(self.folder, name)
        prefixes = {}
        for event, item in ET.iterparse(path, events=('start-ns',)):
            prefixes.setdefault(item[0], item[1])
        root = ET.parse(path).getroot()
        self.prefixes[name] = prefixes
        target = root.get('targetNamespace')
        for child in root:
            if child.tag in (q('include'), q('import')):
                self.load(child.get('schemaLocation'))
            elif child.tag in (q('complexType'), q('simpleType')):
                self.types[(target, child.get('name'))] = (child, name)
            elif child.tag == q('element'):
                self.elements[(target, child.get('name'))] = (child, name)
        self.targets = getattr(self, 'targets', {})
        self.targets[name] = target

    def resolve(self, qname, file):
        prefix, _, local = qname.rpartition(':')
        ns = self.prefixes[file].get(prefix)
        if ns is None:
            raise Fail('prefixo desconhecido em %s: %s' % (file, qname))
        return ns, local


def ucfirst(name):
    return name[:1].upper() + name[1:]


def accessor(name):
    return ucfirst(name) + ('_' if name.lower() in RESERVED else '')


def documentation(node):
    doc = node.find('%s/%s' % (q('annotation'), q('documentation')))
    if doc is None or not doc.text:
        return ''
    text = ' '.join(doc.text.split())
    return text if len(text) <= 100 else text[:97].rstrip() + '...'


class Member:
    def __init__(self, kind, name, cls=None, ns=None, repeats=False):
        self.kind = kind          # 'attribute', 'simple', 'complex', 'collection'
        self.name = name
        self.cls = cls            # class of a complex child or collection item; None for text items
        self.ns = ns              # namespace of the child element
        self.repeats = repeats
        self.list_name = None     # collection class name


class Class:
    def __init__(self, name, ns, doc):
        self.name = name
        self.ns = ns
        self.doc = doc
        self.members = []
        self.self_item = None     # Member of the items when the class is a collection itself

    @property
    def iface(self):
        return 'I' + self.name[1:]


class Model:
    def __init__(self, schemas):
        self.s = schemas
        self.classes = {}   # name -> Class
        self.keys = {}      # name -> identity of the type it was made from
        self.lists = {}     # list class name -> (item Member)
        self.used = set()

    def build(self):
        node, file = self.s.elements[(NFE_NS, 'NFe')]
        ns, local = self.s.resolve(node.get('type'), file)
        self.root = self.complex_class(ns, local, None, 'NFe', None, '')
        for owner, name in CHILD_COLLECTIONS:
            if (owner, name) not in self.used:
                raise Fail('coleção %s/%s não encontrada no schema' % (owner, name))

    def element_type(self, el, file, ns):
        """(kind, class) of an element declaration: simple, or complex with its class."""
        if el.get('ref'):
            rns, rname = self.s.resolve(el.get('ref'), file)
            ref, rfile = self.s.elements[(rns, rname)]
            return self.element_type(ref, rfile, rns)
        name = el.get('name')
        if el.get('type'):
            tns, tname = self.s.resolve(el.get('type'), file)
            if tns == XS or self.s.types[(tns, tname)][0].tag == q('simpleType'):
                return ('simple', None, ns, name)
            return ('complex', self.complex_class(tns, tname, None, name, ns, ''), ns, name)
        inline = el.find(q('complexType'))
        if inline is not None:
            cls = self.complex_class(ns, None, (inline, file), name, ns, documentation(el))
            return ('complex', cls, ns, name)
        return ('simple', None, ns, name)

    def complex_class(self, ns, type_name, inline, el_name, el_ns, el_doc):
        if type_name is not None:
            node, file = self.s.types[(ns, type_name)]
            cname, key = 'TXML' + type_name, ('named', ns, type_name)
            doc = documentation(node)
        else:
            node, file = inline
            cname, key = 'TXML' + ucfirst(el_name), ('inline', id(node))
            doc = el_doc or el_name
        if cname in self.keys:
            if self.keys[cname] != key:
                raise Fail('dois tipos diferentes dariam a classe %s' % cname)
            return self.classes[cname]
        self.keys[cname] = key
        cls = Class(cname, el_ns if type_name is None else ns, doc)
        self.classes[cname] = cls
        self.fill(cls, node, file)
        return cls

    def fill(self, cls, node, file):
        target = self.s.targets[file]
        attributes = list(node.findall(q('attribute')))
        simple = node.find(q('simpleContent'))
        if simple is not None:
            for ext in simple:
                attributes += ext.findall(q('attribute'))
        for a in attributes:
            cls.members.append(Member('attribute', a.get('name')))
        for particle in node:
            if particle.tag in (q('sequence'), q('choice')):
                self.particles(cls, particle, file, target, 1)
        item = SELF_COLLECTIONS.get(cls.name)
        if item:
            children = [m for m in cls.members if m.kind != 'attribute']
            if len(children) != 1 or children[0].name != item or not children[0].repeats:
                raise Fail('%s não contém só a repetição de %s' % (cls.name, item))
            cls.self_item = children[0]
            cls.members = [m for m in cls.members if m.kind == 'attribute']

    def particles(self, cls, group, file, ns, repeat):
        repeat *= occurs(group)
        for p in group:
            if p.tag in (q('sequence'), q('choice')):
                self.particles(cls, p, file, ns, repeat)
            elif p.tag == q('element'):
                kind, child, child_ns, name = self.element_type(p, file, ns)
                repeats = repeat * occurs(p) > 1
                m = Member(kind, name, child, child_ns, repeats)
                if (cls.name, name) in CHILD_COLLECTIONS:
                    if not repeats:
                        raise Fail('%s/%s não se repete no schema' % (cls.name, name))
                    self.used.add((cls.name, name))
                    m.kind = 'collection'
                    m.list_name = (child.name if child else 'TXML' + ucfirst(name)) + 'List'
                    self.lists[m.list_name] = m
                same = [x for x in cls.members if x.name == name]
                if same:
                    # One element in two branches of a choice (IPI of imposto) is one accessor.
                    if same[0].kind != m.kind or same[0].cls is not m.cls:
                        raise Fail('%s tem dois itens diferentes chamados %s' % (cls.name, name))
                    same[0].repeats = same[0].repeats or m.repeats
                    continue
                cls.members.append(m)


def occurs(node):
    top = node.get('maxOccurs', '1')
    return 10 ** 6 if top == 'unbounded' else int(top)


# ---------------------------------------------------------------- output

HEADER_TOP = '''#pragma once
// NF-e 3.10 binding, generated by xml/gen/gen_nfe_binding.py from the published schema
// (xml/schemas/nfe310). Do not edit: change the generator or the schema instead.
//
// One class per element type: TXML<name> implements interface IXML<name> (a std::shared_ptr of it).
// Accessors, in schema order:
//   attribute         Get_X() = AttributeNodes()["x"]->Text();  Set_X(v) = SetAttribute("x", v)
//   simple element    Get_X() = ChildNodes()["x"]->Text() (a missing one is created empty);
//                     Set_X(v) = ChildNodes()["x"]->NodeValue(v)
//   complex element   Get_X() = ChildNodes()["x"] as its typed interface (the first one, if it repeats)
//   collection        Get_X() = the collection made at construction
// Collections: Count(), Get_Item(i) / [i] from 0, Add() after the last item, Insert(i); the text
// collections take the item's text: Add(text), Insert(i, text), Get_Item(i) -> text.
// Everything is text: the binding converts, validates and defaults nothing.

#include "xml/xmldoc.h"

#include <QString>
#include <memory>

// The target namespace of the NF-e schema.
inline constexpr const char TargetNamespace[] = "%s";
'''

HEADER_BOTTOM = '''
// The document element NFe of Doc bound to TXMLTNFe (created in an empty document). A root of another
// name or namespace raises an error.
IXMLTNFe GetNFe(const IXMLDocument &Doc);
// Reads the file by its declared encoding into a new document, then as GetNFe.
IXMLTNFe LoadNFe(const QString &FileName);
// A new document of XML version 1.0 holding an empty NFe element in the NF-e namespace; reach the
// document itself through OwnerDocument().
IXMLTNFe NewNFe();
'''


def item_iface(m):
    return 'I' + m.cls.name[1:] if m.cls else None


def collection_decl(name, m, extra_members='', base_init=None):
    iface = 'I' + name[1:]
    lines = []
    if m.cls:
        it = item_iface(m)
        lines += ['    // A new %s after the last one.' % m.name, '    %s Add();' % it,
                  '    // A new %s before the one at Index (at the end when Index is Count()).' % m.name,
                  '    %s Insert(int Index);' % it,
                  '    // The %s at Index (from 0); outside the list an error.' % m.name,
                  '    %s Get_Item(int Index);' % it,
                  '    %s operator[](int Index) { return Get_Item(Index); }' % it]
    else:
        lines += ['    // A new %s with that text, after the last one.' % m.name,
                  '    IXMLNode Add(const QString &Value);',
                  '    // A new %s with that text, before the one at Index.' % m.name,
                  '    IXMLNode Insert(int Index, const QString &Value);',
                  '    // The text of the %s at Index (from 0); outside the list an error.' % m.name,
                  '    QString Get_Item(int Index);',
                  '    QString operator[](int Index) { return Get_Item(Index); }']
    return lines


def member_decls(cls):
    out = []
    for m in cls.members:
        a = accessor(m.name)
        if m.kind in ('attribute', 'simple'):
            out.append('    QString Get_%s();' % a)
            out.append('    void Set_%s(const QString &Value);' % a)
        elif m.kind == 'complex':
            out.append('    %s Get_%s();' % (m.cls.iface, a))
        else:
            out.append('    IXML%s Get_%s();' % (m.list_name[4:], a))
    return out


def class_decl(cls):
    collections = [m for m in cls.members if m.kind == 'collection']
    complex_children = registered_children(cls)
    base = 'TXMLNodeCollection' if cls.self_item else 'TXMLNode'
    out = ['', '// %s' % (cls.doc or cls.name), 'class %s : public %s' % (cls.name, base), '{', 'public:',
           '    static constexpr const char IID[] = "%s";' % cls.iface]
    if cls.self_item:
        out.append('    explicit %s(const TXMLNodeInit &init);' % cls.name)
        out += collection_decl(cls.name, cls.self_item)
    else:
        out.append('    using TXMLNode::TXMLNode;')
    out += member_decls(cls)
    if collections or complex_children:
        out.append('')
        out.append('protected:')
        if collections:
            out.append('    void AfterConstruction() override;')
        if complex_children:
            out.append('    std::span<const TXMLChildClass> ChildNodeClasses() const override;')
    if collections:
        out.append('')
        out.append('private:')
        for m in collections:
            out.append('    IXML%s F%s;' % (m.list_name[4:], accessor(m.name)))
    out.append('};')
    return out


def list_decl(name, m):
    out = ['', '// The %s items of an element.' % m.name,
           'class %s : public TXMLNodeCollection' % name, '{', 'public:',
           '    static constexpr const char IID[] = "I%s";' % name[1:],
           '    explicit %s(const TXMLNodeInit &init);' % name]
    out += collection_decl(name, m)
    out.append('};')
    return out


def registered_children(cls):
    items = [m for m in cls.members if m.kind in ('complex', 'collection') and m.cls]
    if cls.self_item and cls.self_item.cls:
        items.append(cls.self_item)
    return items


def ns_literal(parent, m):
    return 'nullptr' if m.ns == parent.ns else '"%s"' % m.ns


def collection_defs(name, m, parent_ns):
    it = item_iface(m)
    if m.cls:
        return ['%s %s::Add() { return vnd::XmlCast<%s>(AddItem()); }' % (it, name, it),
                '%s %s::Insert(int Index) { return vnd::XmlCast<%s>(InsertItem(Index)); }' % (it, name, it),
                '%s %s::Get_Item(int Index) { return vnd::XmlCast<%s>(ItemNode(Index)); }' % (it, name, it)]
    return ['IXMLNode %s::Add(const QString &Value)' % name, '{', '    IXMLNode item = AddItem();',
            '    item->NodeValue(Value);', '    return item;', '}',
            'IXMLNode %s::Insert(int Index, const QString &Value)' % name, '{',
            '    IXMLNode item = InsertItem(Index);', '    item->NodeValue(Value);', '    return item;', '}',
            'QString %s::Get_Item(int Index) { return ItemNode(Index)->Text(); }' % name]


def collection_ctor(name, m, ns):
    factory = '&NodeFactory<%s>' % m.cls.name if m.cls else 'nullptr'
    return ['%s::%s(const TXMLNodeInit &init) : TXMLNodeCollection(init, "%s", %s, nullptr) {}'
            % (name, name, m.name, factory)]


def class_defs(cls):
    out = ['', '// ' + cls.name]
    children = registered_children(cls)
    if children:
        table = 'k%sChildren' % cls.name[4:]
        out.append('static const TXMLChildClass %s[] = {' % table)
        for m in children:
            out.append('    {"%s", &NodeFactory<%s>, %s},' % (m.name, m.cls.name, ns_literal(cls, m)))
        out.append('};')
        out.append('std::span<const TXMLChildClass> %s::ChildNodeClasses() const { return %s; }'
                   % (cls.name, table))
    collections = [m for m in cls.members if m.kind == 'collection']
    if collections:
        out.append('void %s::AfterConstruction()' % cls.name)
        out.append('{')
        for m in collections:
            out.append('    F%s = std::make_shared<%s>(Init());' % (accessor(m.name), m.list_name))
        out.append('}')
    if cls.self_item:
        out += collection_ctor(cls.name, cls.self_item, cls.ns)
        out += collection_defs(cls.name, cls.self_item, cls.ns)
    for m in cls.members:
        a = accessor(m.name)
        if m.kind == 'attribute':
            out.append('QString %s::Get_%s() { return AttributeText("%s"); }' % (cls.name, a, m.name))
            out.append('void %s::Set_%s(const QString &Value) { SetAttributeText("%s", Value); }'
                       % (cls.name, a, m.name))
        elif m.kind == 'simple':
            out.append('QString %s::Get_%s() { return ChildText("%s"); }' % (cls.name, a, m.name))
            out.append('void %s::Set_%s(const QString &Value) { SetChildText("%s", Value); }'
                       % (cls.name, a, m.name))
        elif m.kind == 'complex':
            out.append('%s %s::Get_%s() { return vnd::XmlCast<%s>(ChildNode("%s")); }'
                       % (m.cls.iface, cls.name, a, m.cls.iface, m.name))
        else:
            out.append('IXML%s %s::Get_%s() { return F%s; }' % (m.list_name[4:], cls.name, a, a))
    return out


ENTRY = '''
IXMLTNFe GetNFe(const IXMLDocument &Doc)
{
    static const TXMLChildClass binding{"NFe", &NodeFactory<TXMLTNFe>, TargetNamespace};
    Doc->RegisterDocBinding(binding);
    IXMLNode root = Doc->DocumentElement();
    if (!root)
        root = Doc->AddChild(QStringLiteral("NFe"), QString::fromLatin1(TargetNamespace));
    if (root->NodeName() != QLatin1String("NFe") || root->NamespaceURI() != QLatin1String(TargetNamespace))
        throw Exception(QStringLiteral("O elemento raiz do documento é \\"%1\\" no namespace \\"%2\\", e não NFe "
                                       "no namespace da NF-e")
                            .arg(root->NodeName(), root->NamespaceURI()));
    return vnd::XmlCast<IXMLTNFe>(root);
}

IXMLTNFe LoadNFe(const QString &FileName)
{
    IXMLDocument doc = TXMLDocument::Create();
    const QString text = vnd::ReadXmlFile(FileName).text;
    try {
        doc->LoadFromXML(text);
    } catch (const EXMLParseError &e) {
        throw EXMLParseError(e.Reason(), e.Line(), e.Column(), FileName);
    }
    return GetNFe(doc);
}

IXMLTNFe NewNFe()
{
    IXMLDocument doc = TXMLDocument::Create();
    doc->Version(QStringLiteral("1.0"));
    return GetNFe(doc);
}
'''


def ordered_classes(model):
    """Classes in the order they are met from NFe, depth first."""
    seen, order = set(), []

    def visit(cls):
        if cls.name in seen:
            return
        seen.add(cls.name)
        order.append(cls)
        for m in registered_children(cls):
            visit(m.cls)
    visit(model.root)
    return order


def write(path, lines):
    text = '\n'.join(lines) + '\n'
    if os.path.exists(path):
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)


def main():
    schema_dir, out_dir, parts = sys.argv[1], sys.argv[2], int(sys.argv[3])
    model = Model(Schemas(schema_dir))
    model.build()
    classes = ordered_classes(model)
    lists = sorted(model.lists.items())

    head = [HEADER_TOP % NFE_NS]
    names = [c.name for c in classes] + [name for name, _ in lists]
    for n in names:
        head.append('class %s;' % n)
    head.append('')
    for n in names:
        head.append('using I%s = std::shared_ptr<%s>;' % (n[1:], n))
    for cls in classes:
        head += class_decl(cls)
    for name, m in lists:
        head += list_decl(name, m)
    head.append(HEADER_BOTTOM)
    os.makedirs(out_dir, exist_ok=True)
    write(os.path.join(out_dir, 'nfe_v310.h'), head)

    # Units of definitions, split into parts of about the same length so that they compile in the
    # same time.
    units = []
    for cls in classes:
        units.append(class_defs(cls))
    for name, m in lists:
        units.append(['', '// ' + name] + collection_ctor(name, m, None) + collection_defs(name, m, None))
    total = sum(len(u) for u in units) + len(ENTRY.splitlines())
    bodies = [[] for _ in range(parts)]
    part, size = 0, len(ENTRY.splitlines())
    for unit in units:
        if size + len(unit) > (part + 1) * total / parts and part + 1 < parts and size > 0:
            part += 1
        bodies[part] += unit
        size += len(unit)
    for p in range(parts):
        body = ['// Generated by xml/gen/gen_nfe_binding.py; do not edit.', '',
                '#include "xml/nfe_v310.h"', '']
        if p == 0:
            body += ['#include "xml/xmlencoding.h"', '', ENTRY]
        write(os.path.join(out_dir, 'nfe_v310_%d.cpp' % (p + 1)), body + bodies[p])


if __name__ == '__main__':
    try:
        main()
    except Fail as e:
        sys.exit('gen_nfe_binding: %s' % e)
