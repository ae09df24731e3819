#!/usr/bin/env python3
"""Generates a typed NF-e binding (unit nfe_v310 or nfe_v400) from the published schema files.

Usage: gen_nfe_binding.py LAYOUT SCHEMA_DIR OUT_DIR PARTS     (LAYOUT: 3.10 or 4.00)

Writes OUT_DIR/<unit>.h and OUT_DIR/<unit>_1.cpp .. <unit>_PARTS.cpp. The rule, the same for both
layouts:
- one class per element type reachable from the element NFe: a named type keeps its name
  (TXML + type name), an anonymous type takes the element name with its first letter upper-cased;
  when several anonymous types would take one name, each of them is named after the class that holds
  it instead (TXML + holder without TXML + "_" + element name with its first letter upper-cased);
- per class, in schema order, a getter and a setter for every attribute and simple child element,
  a typed getter for every complex child element, and a collection getter for the repeating
  elements listed in the layout's collections; every other repeating element is bound as a single
  child;
- the types in the layout's self-collections hold only their repeating items and are collections
  themselves;
- accessor names are Get_/Set_ + the XML name with its first letter upper-cased, plus "_" when the
  name is a reserved word (C++ keywords, and "mod" and "type", compared without case).
The 3.10 unit is in the global namespace; the 4.00 unit in namespace nfe_v400, so that both can be
used in one program.
The build fails when the schema and the lists disagree: a listed collection that does not repeat or
is not found, two different types that would get one class name, and, for a layout whose lists are
complete (4.00), a repeating element or a collection-only type that is not listed.
"""

import os
import re
import sys
import xml.etree.ElementTree as ET

XS = 'http://www.w3.org/2001/XMLSchema'
NFE_NS = 'http://www.portalfiscal.inf.br/nfe'
DS_NS = 'http://www.w3.org/2000/09/xmldsig#'


class Layout:
    def __init__(self, version, root, unit, namespace, collections, self_collections, complete):
        self.version = version              # "3.10"
        self.root = root                    # the schema file that declares NFe
        self.unit = unit                    # name of the generated files
        self.namespace = namespace          # C++ namespace of the unit, or None for the global one
        self.collections = collections      # (class, element) bound as collections
        self.self_collections = self_collections  # class -> item element
        self.complete = complete            # every repeating element must be listed


# Layout 3.10: the repeating elements that were chosen for collections; dup, DI, adi, autXML,
# obsCont, procRef and deduc stay single children, as callers of this layout expect.
LAYOUT_310 = Layout(
    '3.10', 'nfe_v3.10.xsd', 'nfe_v310', None,
    {
        ('TXMLIde', 'NFref'), ('TXMLInfNFe', 'det'), ('TXMLInfNFe', 'pag'),
        ('TXMLProd', 'NVE'), ('TXMLProd', 'detExport'), ('TXMLProd', 'med'), ('TXMLProd', 'arma'),
        ('TXMLTransp', 'reboque'), ('TXMLTransp', 'vol'), ('TXMLVol', 'lacres'), ('TXMLCana', 'forDia'),
    },
    {'TXMLTransformsType': 'Transform', 'TXMLTransformType': 'XPath'},
    False)

# Layout 4.00: every repeating element of the schema, as the generator finds them, so that no item
# of a list (a second payment in detPag, a second duplicate) is out of typed reach.
LAYOUT_400 = Layout(
    '4.00', 'nfe_v4.00.xsd', 'nfe_v400', 'nfe_v400',
    {
        ('TXMLIde', 'NFref'), ('TXMLInfNFe', 'autXML'), ('TXMLInfNFe', 'det'),
        ('TXMLProd', 'NVE'), ('TXMLProd', 'gCred'), ('TXMLProd', 'DI'), ('TXMLDI', 'adi'),
        ('TXMLProd', 'detExport'), ('TXMLProd', 'rastro'), ('TXMLProd', 'arma'),
        ('TXMLComb', 'origComb'), ('TXMLTransp', 'reboque'), ('TXMLTransp', 'vol'),
        ('TXMLVol', 'lacres'), ('TXMLCobr', 'dup'), ('TXMLPag', 'detPag'),
        ('TXMLInfAdic', 'obsCont'), ('TXMLInfAdic', 'obsFisco'), ('TXMLInfAdic', 'procRef'),
        ('TXMLCana', 'forDia'), ('TXMLCana', 'deduc'), ('TXMLAgropecuario', 'defensivo'),
    },
    {'TXMLGPagAntecipado': 'refNFe', 'TXMLTransformsType': 'Transform', 'TXMLTransformType': 'XPath'},
    True)

LAYOUTS = {l.version: l for l in (LAYOUT_310, LAYOUT_400)}

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

    def __init__(self, folder, root):
        self.folder = folder
        self.types = {}      # (ns, name) -> (node, file)
        self.elements = {}   # (ns, name) -> (node, file)
        self.prefixes = {}   # file -> {prefix: ns}
        self.targets = {}    # file -> target namespace
        self.loaded = set()
        self.load(root)

    def load(self, name, includer_target=None):
        if name in self.loaded:
            return
        self.loaded.add(name)
        path = os.path.join(self.folder, name)
        prefixes = {}
        for event, item in ET.iterparse(path, events=('start-ns',)):
            prefixes.setdefault(item[0], item[1])
        root = ET.parse(path).getroot()
        target = root.get('targetNamespace')
        if target is None and includer_target is not None:
            # An included file without a target namespace takes the one of the file that includes
            # it, and so do its unprefixed references (the 4.00 package's DFeTiposBasicos).
            target = includer_target
            prefixes.setdefault('', target)
        self.prefixes[name] = prefixes
        self.targets[name] = target
        for child in root:
            if child.tag == q('include'):
                self.load(child.get('schemaLocation'), target)
            elif child.tag == q('import'):
                self.load(child.get('schemaLocation'))
            elif child.tag in (q('complexType'), q('simpleType')):
                self.types[(target, child.get('name'))] = (child, name)
            elif child.tag == q('element'):
                self.elements[(target, child.get('name'))] = (child, name)

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
    text = text if len(text) <= 100 else text[:97].rstrip() + '...'
    # A line comment that ends in a backslash would swallow the next line of the output.
    return text.rstrip('\\')


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


class Clash(Exception):
    """Two anonymous types would take one class name; the model is built again with it qualified."""

    def __init__(self, name):
        super().__init__(name)
        self.name = name


class Model:
    def __init__(self, schemas, layout, qualified=frozenset()):
        self.s = schemas
        self.layout = layout
        self.qualified = qualified  # plain class names that several anonymous types would take
        self.classes = {}   # name -> Class
        self.keys = {}      # name -> identity of the type it was made from
        self.lists = {}     # list class name -> (item Member)
        self.used = set()
        self.repeating = set()  # (class, element) of every repeating child element met

    def build(self):
        node, file = self.s.elements[(NFE_NS, 'NFe')]
        ns, local = self.s.resolve(node.get('type'), file)
        self.root = self.complex_class(ns, local, None, 'NFe', None, '', None)
        for owner, name in sorted(self.layout.collections):
            if (owner, name) not in self.used:
                raise Fail('coleção %s/%s não encontrada no schema' % (owner, name))
        for owner in sorted(self.layout.self_collections):
            if owner not in self.classes:
                raise Fail('coleção %s não encontrada no schema' % owner)
        if self.layout.complete:
            self.check_complete()

    def check_complete(self):
        """Every repeating element is a collection, and every type that holds only one repeating
        element is a collection itself, as the layout's lists say."""
        items = {(c, i) for c, i in self.layout.self_collections.items()}
        missing = sorted(self.repeating - self.layout.collections - items)
        if missing:
            raise Fail('elementos repetidos fora da lista de coleções: %s'
                       % ', '.join('%s/%s' % m for m in missing))
        for cls in self.classes.values():
            children = [m for m in cls.members if m.kind != 'attribute']
            only_items = len(children) == 1 and children[0].repeats and not cls.self_item
            if only_items:
                raise Fail('%s contém só a repetição de %s: falta na lista de coleções próprias'
                           % (cls.name, children[0].name))

    def element_type(self, el, file, ns, holder):
        """(kind, class) of an element declaration: simple, or complex with its class."""
        if el.get('ref'):
            rns, rname = self.s.resolve(el.get('ref'), file)
            ref, rfile = self.s.elements[(rns, rname)]
            return self.element_type(ref, rfile, rns, holder)
        name = el.get('name')
        if el.get('type'):
            tns, tname = self.s.resolve(el.get('type'), file)
            if tns == XS or self.s.types[(tns, tname)][0].tag == q('simpleType'):
                return ('simple', None, ns, name)
            return ('complex', self.complex_class(tns, tname, None, name, ns, '', holder), ns, name)
        inline = el.find(q('complexType'))
        if inline is not None:
            cls = self.complex_class(ns, None, (inline, file), name, ns, documentation(el), holder)
            return ('complex', cls, ns, name)
        return ('simple', None, ns, name)

    def complex_class(self, ns, type_name, inline, el_name, el_ns, el_doc, holder):
        if type_name is not None:
            node, file = self.s.types[(ns, type_name)]
            cname, key = 'TXML' + type_name, ('named', ns, type_name)
            doc = documentation(node)
        else:
            node, file = inline
            cname, key = 'TXML' + ucfirst(el_name), ('inline', id(node))
            if cname in self.qualified:
                cname = 'TXML%s_%s' % (holder.name[4:], ucfirst(el_name))
            doc = el_doc or el_name
        if cname in self.keys:
            if self.keys[cname] != key:
                plain = key[0] == 'inline' and cname == 'TXML' + ucfirst(el_name)
                if plain and self.keys[cname][0] == 'inline':
                    raise Clash(cname)
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
        item = self.layout.self_collections.get(cls.name)
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
                kind, child, child_ns, name = self.element_type(p, file, ns, cls)
                repeats = repeat * occurs(p) > 1
                if repeats:
                    self.repeating.add((cls.name, name))
                m = Member(kind, name, child, child_ns, repeats)
                if (cls.name, name) in self.layout.collections:
                    if not repeats:
                        raise Fail('%s/%s não se repete no schema' % (cls.name, name))
                    self.used.add((cls.name, name))
                    m.kind = 'collection'
                    m.list_name = (child.name if child else 'TXML' + ucfirst(name)) + 'List'
                    known = self.lists.get(m.list_name)
                    if known and (known.name != name or known.cls is not child):
                        raise Fail('duas coleções diferentes dariam a classe %s' % m.list_name)
                    self.lists[m.list_name] = m
                same = [x for x in cls.members if x.name == name]
                if same:
                    # One element in two branches of a choice (IPI of imposto) is one accessor.
                    if same[0].kind != m.kind or same[0].cls is not m.cls:
                        raise Fail('%s tem dois itens diferentes chamados %s' % (cls.name, name))
                    same[0].repeats = same[0].repeats or m.repeats
                    continue
                cls.members.append(m)


def build_model(schemas, layout):
    """The model of the layout; names that several anonymous types would take are qualified by
    their holders, all of them, so that no type's name depends on which one the walk met first."""
    qualified = set()
    while True:
        model = Model(schemas, layout, frozenset(qualified))
        try:
            model.build()
            return model
        except Clash as clash:
            qualified.add(clash.name)


def occurs(node):
    top = node.get('maxOccurs', '1')
    return 10 ** 6 if top == 'unbounded' else int(top)


# ---------------------------------------------------------------- output

HEADER_TOP = '''#pragma once
// NF-e %(version)s binding, generated by xml/gen/gen_nfe_binding.py from the published schema
// (xml/schemas/%(folder)s). Do not edit: change the generator or the schema instead.
//%(namespace_note)s
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

%(namespace_open)s// The target namespace of the NF-e schema.
inline constexpr const char TargetNamespace[] = "%(target)s";
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


def class_decl(cls, iid_prefix):
    collections = [m for m in cls.members if m.kind == 'collection']
    complex_children = registered_children(cls)
    base = 'TXMLNodeCollection' if cls.self_item else 'TXMLNode'
    out = ['', '// %s' % (cls.doc or cls.name), 'class %s : public %s' % (cls.name, base), '{', 'public:',
           '    static constexpr const char IID[] = "%s%s";' % (iid_prefix, cls.iface)]
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


def list_decl(name, m, iid_prefix):
    out = ['', '// The %s items of an element.' % m.name,
           'class %s : public TXMLNodeCollection' % name, '{', 'public:',
           '    static constexpr const char IID[] = "%sI%s";' % (iid_prefix, name[1:]),
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


def header_top(layout):
    note = ''
    opening = ''
    if layout.namespace:
        note = ('\n// Everything below is in namespace %s, so that the bindings of both layouts can be used in one\n'
                '// program.\n//' % layout.namespace)
        opening = 'namespace %s\n{\n\n' % layout.namespace
    return HEADER_TOP % {'version': layout.version, 'folder': 'nfe' + layout.version.replace('.', ''),
                         'namespace_note': note, 'namespace_open': opening, 'target': NFE_NS}


def main():
    layout = LAYOUTS.get(sys.argv[1]) if len(sys.argv) == 5 else None
    if layout is None:
        sys.exit('uso: gen_nfe_binding.py %s PASTA_DOS_SCHEMAS PASTA_DE_SAIDA PARTES' % '|'.join(LAYOUTS))
    schema_dir, out_dir, parts = sys.argv[2], sys.argv[3], int(sys.argv[4])
    model = build_model(Schemas(schema_dir, layout.root), layout)
    classes = ordered_classes(model)
    lists = sorted(model.lists.items())
    closing = ['', '} // namespace %s' % layout.namespace] if layout.namespace else []
    # The interface identifiers name the layout's namespace, so that each one is unique in a program
    # that uses both bindings and a failed cast says which layout it expected.
    iid_prefix = layout.namespace + '::' if layout.namespace else ''

    head = [header_top(layout)]
    names = [c.name for c in classes] + [name for name, _ in lists]
    for n in names:
        head.append('class %s;' % n)
    head.append('')
    for n in names:
        head.append('using I%s = std::shared_ptr<%s>;' % (n[1:], n))
    for cls in classes:
        head += class_decl(cls, iid_prefix)
    for name, m in lists:
        head += list_decl(name, m, iid_prefix)
    head.append(HEADER_BOTTOM)
    if closing:
        head += closing[1:]
    os.makedirs(out_dir, exist_ok=True)
    write(os.path.join(out_dir, layout.unit + '.h'), head)

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
                '#include "xml/%s.h"' % layout.unit, '']
        if p == 0:
            body += ['#include "xml/xmlencoding.h"', '']
        if layout.namespace:
            body += ['namespace %s' % layout.namespace, '{']
        if p == 0:
            body += [ENTRY]
        write(os.path.join(out_dir, '%s_%d.cpp' % (layout.unit, p + 1)), body + bodies[p] + closing)


if __name__ == '__main__':
    try:
        main()
    except Fail as e:
        sys.exit('gen_nfe_binding: %s' % e)
