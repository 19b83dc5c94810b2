// Our DOM automation objects over libxml2: a document, its nodes (elements, attributes,
// text, comments, processing instructions) and node lists, reachable only through IDispatch
// and answering the MSXML member names the plug-in calls, case-insensitively.
//
// Behaviour kept the same as MSXML (checked against Wine's MSXML, see README.md here):
// absent nodes come back as a VT_DISPATCH holding null, an absent attribute as VT_NULL;
// a malformed XPath, or one that gives no node-set, fails with DISP_E_EXCEPTION (E_FAIL);
// loadXML of text that does not parse returns false and leaves an empty document; members
// called with the wrong kind of invocation (a property as a method) are not found.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/automation_classes.h"
#include "platform/ole_ptr.h"
#include "platform/posix/xml_dom_tree.h"
#include "platform/xml_dom.h"

namespace platform {
namespace {

using namespace xml_dom;

// Identifies our own objects behind an IDispatch handed back to us (insertBefore & co).
constexpr IID IID_DomObject = {0x5E0B52A4, 0x2C7D, 0x4F0E, {0x9A, 0x61, 0x3D, 0x84, 0x10, 0x7C, 0xB2, 0x95}};

// The class ids MSXML registers for the two program ids.
constexpr CLSID CLSID_Msxml2DOMDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
constexpr CLSID CLSID_MsxmlDOMDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// An automation failure of a member: the HRESULT Invoke returns directly.
struct InvokeFailure {
  HRESULT Code;
};

// ---------------------------------------------------------------------------------------
// Members

enum class Member {
  LoadXml, Xml, Async, PreserveWhiteSpace, ValidateOnParse, ResolveExternals, SetProperty, GetProperty,
  SelectNodes, SelectSingleNode, DocumentElement, CreateElement, CreateProcessingInstruction,
  CreateTextNode, CreateComment, CreateCDATASection, InsertBefore, AppendChild, RemoveChild, ReplaceChild,
  CloneNode, NodeName, NodeType, NodeValue, ParentNode, ChildNodes, FirstChild, LastChild,
  PreviousSibling, NextSibling, HasChildNodes, OwnerDocument, Text, TagName, BaseName, Name, Value,
  Target, Data, GetAttribute, SetAttribute, RemoveAttribute, Length, Item, NextNode, Reset,
};

enum class MemberKind { Method, ReadOnly, ReadWrite };

// Which objects answer a member.
enum ObjectClass : unsigned {
  kDocument = 1, kElement = 2, kAttribute = 4, kCharacterData = 8, kInstruction = 16, kNodeList = 32,
  kNode = kDocument | kElement | kAttribute | kCharacterData | kInstruction,
  kChild = kElement | kCharacterData | kInstruction,
  kContainer = kDocument | kElement,
};

struct MemberInfo {
  const char* Name;
  Member Id;
  MemberKind Kind;
  unsigned Classes;
};

constexpr MemberInfo kMembers[] = {
    {"loadXML", Member::LoadXml, MemberKind::Method, kDocument},
    {"xml", Member::Xml, MemberKind::ReadOnly, kNode},
    {"async", Member::Async, MemberKind::ReadWrite, kDocument},
    {"preserveWhiteSpace", Member::PreserveWhiteSpace, MemberKind::ReadWrite, kDocument},
    {"validateOnParse", Member::ValidateOnParse, MemberKind::ReadWrite, kDocument},
    {"resolveExternals", Member::ResolveExternals, MemberKind::ReadWrite, kDocument},
    {"setProperty", Member::SetProperty, MemberKind::Method, kDocument},
    {"getProperty", Member::GetProperty, MemberKind::Method, kDocument},
    {"selectNodes", Member::SelectNodes, MemberKind::Method, kNode},
    {"selectSingleNode", Member::SelectSingleNode, MemberKind::Method, kNode},
    {"documentElement", Member::DocumentElement, MemberKind::ReadWrite, kDocument},
    {"createElement", Member::CreateElement, MemberKind::Method, kDocument},
    {"createProcessingInstruction", Member::CreateProcessingInstruction, MemberKind::Method, kDocument},
    {"createTextNode", Member::CreateTextNode, MemberKind::Method, kDocument},
    {"createComment", Member::CreateComment, MemberKind::Method, kDocument},
    {"createCDATASection", Member::CreateCDATASection, MemberKind::Method, kDocument},
    {"insertBefore", Member::InsertBefore, MemberKind::Method, kContainer},
    {"appendChild", Member::AppendChild, MemberKind::Method, kContainer},
    {"removeChild", Member::RemoveChild, MemberKind::Method, kContainer},
    {"replaceChild", Member::ReplaceChild, MemberKind::Method, kContainer},
    {"cloneNode", Member::CloneNode, MemberKind::Method, kNode},
    {"nodeName", Member::NodeName, MemberKind::ReadOnly, kNode},
    {"nodeType", Member::NodeType, MemberKind::ReadOnly, kNode},
    {"nodeValue", Member::NodeValue, MemberKind::ReadWrite, kNode},
    {"parentNode", Member::ParentNode, MemberKind::ReadOnly, kNode},
    {"childNodes", Member::ChildNodes, MemberKind::ReadOnly, kNode},
    {"firstChild", Member::FirstChild, MemberKind::ReadOnly, kNode},
    {"lastChild", Member::LastChild, MemberKind::ReadOnly, kNode},
    {"previousSibling", Member::PreviousSibling, MemberKind::ReadOnly, kNode},
    {"nextSibling", Member::NextSibling, MemberKind::ReadOnly, kNode},
    {"hasChildNodes", Member::HasChildNodes, MemberKind::Method, kNode},
    {"ownerDocument", Member::OwnerDocument, MemberKind::ReadOnly, kNode},
    {"text", Member::Text, MemberKind::ReadWrite, kNode},
    {"tagName", Member::TagName, MemberKind::ReadOnly, kElement},
    {"baseName", Member::BaseName, MemberKind::ReadOnly, kElement | kAttribute},
    {"name", Member::Name, MemberKind::ReadOnly, kAttribute},
    {"value", Member::Value, MemberKind::ReadWrite, kAttribute},
    {"target", Member::Target, MemberKind::ReadOnly, kInstruction},
    {"data", Member::Data, MemberKind::ReadWrite, kCharacterData | kInstruction},
    {"getAttribute", Member::GetAttribute, MemberKind::Method, kElement},
    {"setAttribute", Member::SetAttribute, MemberKind::Method, kElement},
    {"removeAttribute", Member::RemoveAttribute, MemberKind::Method, kElement},
    {"length", Member::Length, MemberKind::ReadOnly, kNodeList},
    {"item", Member::Item, MemberKind::ReadOnly, kNodeList},
    {"nextNode", Member::NextNode, MemberKind::Method, kNodeList},
    {"reset", Member::Reset, MemberKind::Method, kNodeList},
};

// Dispatch ids are positions in the table, starting at 1.
DISPID DispIdOf(const MemberInfo& member) { return static_cast<DISPID>(&member - kMembers) + 1; }

// Member names match case-insensitively (ASCII letters), as MSXML's dispatch does.
bool SameName(const char* name, const OLECHAR* text) {
  size_t i = 0;
  for (; name[i] && text[i]; ++i) {
    OLECHAR a = static_cast<unsigned char>(name[i]), b = text[i];
    if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
    if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
    if (a != b) return false;
  }
  return !name[i] && !text[i];
}

// ---------------------------------------------------------------------------------------
// Arguments

class Arguments {
public:
  Arguments(const DISPPARAMS* params, bool put) {
    if (!params) return;
    // Positional arguments come last-first; a property put carries its value as the named
    // argument DISPID_PROPERTYPUT.
    UINT named = params->cNamedArgs;
    if (named > 1 || (named == 1 && (!put || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
      throw InvokeFailure{DISP_E_NONAMEDARGS};
    // Reversed into call order; the value of a put (rgvarg[0]) comes last, after any indices.
    for (UINT i = params->cArgs; i-- > 0;) FValues.push_back(&params->rgvarg[i]);
  }

  size_t Count() const { return FValues.size(); }
  void Expect(size_t count) const {
    if (FValues.size() != count) throw InvokeFailure{DISP_E_BADPARAMCOUNT};
  }

  const VARIANT& operator[](size_t i) const {
    const VARIANT* v = FValues.at(i);
    while (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
    return *v;
  }

  WideString Text(size_t i) const;
  bool Bool(size_t i) const;
  LONG Int(size_t i) const;
  IDispatch* Object(size_t i) const;  // null for an empty, null or missing argument

private:
  std::vector<VARIANT*> FValues;
};

// Texts of numbers follow the invariant formats (MSXML converts with the caller's locale;
// the plug-in hands over texts and integers only).
WideString NumberText(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return FromUtf8(buffer);
}

template <class T>
T ByRefOr(const VARIANT& v, T value, T* ref) {
  return (v.vt & VT_BYREF) ? *ref : value;
}

WideString Arguments::Text(size_t i) const {
  const VARIANT& v = (*this)[i];
  switch (v.vt & ~VT_BYREF) {
    case VT_EMPTY: return {};
    case VT_BSTR: {
      BSTR s = ByRefOr(v, v.bstrVal, v.pbstrVal);
      return s ? WideString(s, SysStringLen(s)) : WideString();
    }
    case VT_BOOL: return FromUtf8(ByRefOr(v, v.boolVal, v.pboolVal) ? "-1" : "0");
    case VT_I1: return FromUtf8(std::to_string(ByRefOr(v, v.cVal, v.pcVal)));
    case VT_UI1: return FromUtf8(std::to_string(ByRefOr(v, v.bVal, v.pbVal)));
    case VT_I2: return FromUtf8(std::to_string(ByRefOr(v, v.iVal, v.piVal)));
    case VT_UI2: return FromUtf8(std::to_string(ByRefOr(v, v.uiVal, v.puiVal)));
    case VT_I4: return FromUtf8(std::to_string(ByRefOr(v, v.lVal, v.plVal)));
    case VT_UI4: return FromUtf8(std::to_string(ByRefOr(v, v.ulVal, v.pulVal)));
    case VT_INT: return FromUtf8(std::to_string(ByRefOr(v, v.intVal, v.pintVal)));
    case VT_UINT: return FromUtf8(std::to_string(ByRefOr(v, v.uintVal, v.puintVal)));
    case VT_I8: return FromUtf8(std::to_string(ByRefOr(v, v.llVal, v.pllVal)));
    case VT_UI8: return FromUtf8(std::to_string(ByRefOr(v, v.ullVal, v.pullVal)));
    case VT_R4: return NumberText(ByRefOr(v, v.fltVal, v.pfltVal));
    case VT_R8: return NumberText(ByRefOr(v, v.dblVal, v.pdblVal));
    default: throw InvokeFailure{DISP_E_TYPEMISMATCH};
  }
}

bool Arguments::Bool(size_t i) const {
  const VARIANT& v = (*this)[i];
  switch (v.vt & ~VT_BYREF) {
    case VT_BOOL: return ByRefOr(v, v.boolVal, v.pboolVal) != VARIANT_FALSE;
    case VT_EMPTY: return false;
    default: return Int(i) != 0;
  }
}

LONG Arguments::Int(size_t i) const {
  const VARIANT& v = (*this)[i];
  switch (v.vt & ~VT_BYREF) {
    case VT_BOOL: return ByRefOr(v, v.boolVal, v.pboolVal) ? -1 : 0;
    case VT_I1: return ByRefOr(v, v.cVal, v.pcVal);
    case VT_UI1: return ByRefOr(v, v.bVal, v.pbVal);
    case VT_I2: return ByRefOr(v, v.iVal, v.piVal);
    case VT_UI2: return ByRefOr(v, v.uiVal, v.puiVal);
    case VT_I4: return ByRefOr(v, v.lVal, v.plVal);
    case VT_UI4: return static_cast<LONG>(ByRefOr(v, v.ulVal, v.pulVal));
    case VT_INT: return ByRefOr(v, v.intVal, v.pintVal);
    case VT_UINT: return static_cast<LONG>(ByRefOr(v, v.uintVal, v.puintVal));
    case VT_I8: return static_cast<LONG>(ByRefOr(v, v.llVal, v.pllVal));
    case VT_UI8: return static_cast<LONG>(ByRefOr(v, v.ullVal, v.pullVal));
    case VT_R4: return static_cast<LONG>(std::lround(ByRefOr(v, v.fltVal, v.pfltVal)));
    case VT_R8: return static_cast<LONG>(std::lround(ByRefOr(v, v.dblVal, v.pdblVal)));
    case VT_BSTR: {
      std::string text = ToUtf8(Text(i));
      char* end = nullptr;
      long value = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end) throw InvokeFailure{DISP_E_TYPEMISMATCH};
      return static_cast<LONG>(value);
    }
    default: throw InvokeFailure{DISP_E_TYPEMISMATCH};
  }
}

IDispatch* Arguments::Object(size_t i) const {
  if (i >= Count()) return nullptr;
  const VARIANT& v = (*this)[i];
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return nullptr;  // VT_ERROR: an omitted optional argument
    case VT_DISPATCH: return v.pdispVal;
    case VT_DISPATCH | VT_BYREF: return *v.ppdispVal;
    case VT_UNKNOWN: return reinterpret_cast<IDispatch*>(v.punkVal);  // checked by the caller's QueryInterface
    default: throw InvokeFailure{DISP_E_TYPEMISMATCH};
  }
}

// ---------------------------------------------------------------------------------------
// Results

void SetText(VARIANT* result, const std::string& utf8) {
  if (!result) return;
  WideString text = FromUtf8(utf8);
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!result->bstrVal) throw std::bad_alloc();
}

void SetBool(VARIANT* result, bool value) {
  if (!result) return;
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetInt(VARIANT* result, LONG value) {
  if (!result) return;
  result->vt = VT_I4;
  result->lVal = value;
}

void SetNull(VARIANT* result) {
  if (result) result->vt = VT_NULL;
}

// Takes over the reference; a null object is VT_DISPATCH with a null pointer, as MSXML gives it.
void SetObject(VARIANT* result, IDispatch* object) {
  if (!result) {
    if (object) object->Release();
    return;
  }
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
}

// ---------------------------------------------------------------------------------------
// The dispatch base

class DomObject : public IDispatch {
public:
  virtual ~DomObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_DomObject) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefCount; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = --FRefCount;
    if (count == 0) delete this;
    return count;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    const MemberInfo* member = Find(names[0]);
    ids[0] = member ? DispIdOf(*member) : DISPID_UNKNOWN;
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;  // no named arguments
    return member && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* error, UINT*) override {
    if (id < 1 || id > static_cast<DISPID>(std::size(kMembers))) return DISP_E_MEMBERNOTFOUND;
    const MemberInfo& member = kMembers[id - 1];
    if (!(member.Classes & Classes())) return DISP_E_MEMBERNOTFOUND;
    bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    bool allowed = member.Kind == MemberKind::Method ? (flags & DISPATCH_METHOD) != 0
                   : put                       ? member.Kind == MemberKind::ReadWrite
                                               : (flags & DISPATCH_PROPERTYGET) != 0;
    if (!allowed) return DISP_E_MEMBERNOTFOUND;
    if (result) VariantInit(result);
    try {
      Arguments args(params, put);
      Call(member.Id, put, args, result);
      return S_OK;
    } catch (const InvokeFailure& failure) {
      if (result) VariantClear(result);
      return failure.Code;
    } catch (const DomError& failure) {
      if (result) VariantClear(result);
      FillError(error, failure);
      return DISP_E_EXCEPTION;
    } catch (const std::bad_alloc&) {
      if (result) VariantClear(result);
      return E_OUTOFMEMORY;
    } catch (...) {
      if (result) VariantClear(result);
      FillError(error, DomError{E_UNEXPECTED, "unexpected failure"});
      return DISP_E_EXCEPTION;
    }
  }

  // The object behind an IDispatch, when it is one of ours.
  static DomObject* From(IDispatch* object) {
    if (!object) return nullptr;
    ComPtr<IDispatch> ours;
    if (FAILED(object->QueryInterface(IID_DomObject, ours.PutVoid()))) return nullptr;
    return static_cast<DomObject*>(ours.Get());  // the caller still holds its own reference
  }

  // The node this object stands for (the document node for a document); null for lists.
  virtual xmlNodePtr Node() const { return nullptr; }

protected:
  virtual unsigned Classes() const = 0;
  virtual void Call(Member member, bool put, const Arguments& args, VARIANT* result) = 0;

private:
  const MemberInfo* Find(const OLECHAR* name) const {
    if (!name) return nullptr;
    for (const MemberInfo& member : kMembers)
      if ((member.Classes & Classes()) && SameName(member.Name, name)) return &member;
    return nullptr;
  }

  static void FillError(EXCEPINFO* error, const DomError& failure) {
    if (!error) return;
    *error = EXCEPINFO{};
    error->scode = failure.Code;
    WideString source = FromUtf8("msxml3.dll");
    WideString text = FromUtf8(failure.Message);
    error->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
    error->bstrDescription = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }

  std::atomic<ULONG> FRefCount{1};
};

IDispatch* WrapNode(xmlNodePtr node);

// The node behind a node argument; a missing node is E_INVALIDARG, a foreign object a type mismatch.
xmlNodePtr NodeArgument(const Arguments& args, size_t i, bool optional = false) {
  IDispatch* object = args.Object(i);
  if (!object) {
    if (optional) return nullptr;
    throw InvokeFailure{E_INVALIDARG};
  }
  DomObject* ours = DomObject::From(object);
  if (!ours || !ours->Node()) throw InvokeFailure{DISP_E_TYPEMISMATCH};
  return ours->Node();
}

// Hands back the node argument itself (a new reference), as insertBefore and the like return it.
IDispatch* SameObject(const Arguments& args, size_t i) {
  IDispatch* object = args.Object(i);
  object->AddRef();
  return object;
}

// ---------------------------------------------------------------------------------------
// Node lists

class DomNodeList final : public DomObject {
public:
  explicit DomNodeList(std::vector<xmlNodePtr> nodes) : FNodes(std::move(nodes)) {
    for (xmlNodePtr node : FNodes) NodeAnchor::Attach(node);
  }
  ~DomNodeList() override {
    for (xmlNodePtr node : FNodes) NodeAnchor::Detach(node);
  }

protected:
  unsigned Classes() const override { return kNodeList; }

  void Call(Member member, bool, const Arguments& args, VARIANT* result) override {
    switch (member) {
      case Member::Length:
        args.Expect(0);
        return SetInt(result, static_cast<LONG>(FNodes.size()));
      case Member::Item: {
        args.Expect(1);
        LONG index = args.Int(0);
        // Outside the list: no node, not an error.
        return SetObject(result, index >= 0 && static_cast<size_t>(index) < FNodes.size() ? WrapNode(FNodes[index]) : nullptr);
      }
      case Member::NextNode:
        args.Expect(0);
        return SetObject(result, FPosition < FNodes.size() ? WrapNode(FNodes[FPosition++]) : nullptr);
      case Member::Reset:
        args.Expect(0);
        FPosition = 0;
        return;
      default: throw InvokeFailure{DISP_E_MEMBERNOTFOUND};
    }
  }

private:
  std::vector<xmlNodePtr> FNodes;
  size_t FPosition = 0;
};

std::vector<xmlNodePtr> Children(xmlNodePtr node) {
  std::vector<xmlNodePtr> children;
  if (node->type != XML_ATTRIBUTE_NODE)
    for (xmlNodePtr child = node->children; child; child = child->next) children.push_back(child);
  return children;
}

// ---------------------------------------------------------------------------------------
// Members shared by the document and its nodes

class DomNodeBase : public DomObject {
protected:
  // Answers the members every kind of node has; false when the member is not one of them.
  bool CallNodeMember(Member member, bool put, const Arguments& args, VARIANT* result) {
    xmlNodePtr node = Node();
    switch (member) {
      case Member::Xml:
        args.Expect(0);
        SetText(result, SerializeNode(node));
        return true;
      case Member::NodeName:
        args.Expect(0);
        SetText(result, xml_dom::NodeName(node));
        return true;
      case Member::NodeType:
        args.Expect(0);
        SetInt(result, NodeType(node));
        return true;
      case Member::SelectNodes:
        args.Expect(1);
        SetObject(result, new DomNodeList(xml_dom::SelectNodes(node, ToUtf8(args.Text(0)))));
        return true;
      case Member::SelectSingleNode: {
        args.Expect(1);
        std::vector<xmlNodePtr> nodes = xml_dom::SelectNodes(node, ToUtf8(args.Text(0)));
        SetObject(result, nodes.empty() ? nullptr : WrapNode(nodes.front()));
        return true;
      }
      case Member::ChildNodes:
        args.Expect(0);
        SetObject(result, new DomNodeList(Children(node)));
        return true;
      case Member::FirstChild:
      case Member::LastChild: {
        args.Expect(0);
        xmlNodePtr child = node->type == XML_ATTRIBUTE_NODE ? nullptr
                           : member == Member::FirstChild   ? node->children
                                                            : node->last;
        SetObject(result, child ? WrapNode(child) : nullptr);
        return true;
      }
      case Member::HasChildNodes:
        args.Expect(0);
        SetBool(result, node->type != XML_ATTRIBUTE_NODE && node->children != nullptr);
        return true;
      case Member::Text:
        if (put) {
          args.Expect(1);
          SetNodeText(node, ToUtf8(args.Text(0)));
        } else {
          args.Expect(0);
          SetText(result, NodeText(node));
        }
        return true;
      case Member::InsertBefore: {
        args.Expect(2);
        InsertChild(node, NodeArgument(args, 0), NodeArgument(args, 1, true));
        SetObject(result, SameObject(args, 0));
        return true;
      }
      case Member::AppendChild:
        args.Expect(1);
        InsertChild(node, NodeArgument(args, 0), nullptr);
        SetObject(result, SameObject(args, 0));
        return true;
      case Member::RemoveChild:
        args.Expect(1);
        xml_dom::RemoveChild(node, NodeArgument(args, 0));
        SetObject(result, SameObject(args, 0));
        return true;
      case Member::ReplaceChild: {
        args.Expect(2);
        xmlNodePtr added = NodeArgument(args, 0), old = NodeArgument(args, 1);
        if (old->parent != node) throw DomError{E_INVALIDARG, "the node is not a child of this node"};
        InsertChild(node, added, old);
        xml_dom::RemoveChild(node, old);
        SetObject(result, SameObject(args, 1));
        return true;
      }
      default: return false;
    }
  }

  static LONG NodeType(xmlNodePtr node) {
    switch (node->type) {
      case XML_ELEMENT_NODE: return 1;
      case XML_ATTRIBUTE_NODE: return 2;
      case XML_TEXT_NODE: return 3;
      case XML_CDATA_SECTION_NODE: return 4;
      case XML_ENTITY_REF_NODE: return 5;
      case XML_PI_NODE: return 7;
      case XML_COMMENT_NODE: return 8;
      case XML_DOCUMENT_NODE: return 9;
      case XML_DTD_NODE: return 10;
      case XML_DOCUMENT_FRAG_NODE: return 11;
      default: return 0;
    }
  }

  // An element's children are replaced by one text (its old children stay alive for any
  // object still referring to them); attributes and other nodes take the text as their value.
  static void SetNodeText(xmlNodePtr node, const std::string& text) {
    const xmlChar* chars = reinterpret_cast<const xmlChar*>(text.data());
    int length = static_cast<int>(text.size());
    if (node->type == XML_ATTRIBUTE_NODE) {
      auto* attr = reinterpret_cast<xmlAttrPtr>(node);
      if (attr->parent) return xml_dom::SetAttribute(attr->parent, xml_dom::NodeName(node), text);
      // An attribute on its own: its value text is replaced (no object refers to it).
      xmlFreeNodeList(node->children);
      node->children = node->last = nullptr;
      xmlNodePtr value = xmlNewDocTextLen(node->doc, chars, length);
      if (!value) throw std::bad_alloc();
      value->parent = node;
      node->children = node->last = value;
      return;
    }
    if (node->type == XML_ELEMENT_NODE) {
      while (node->children) {
        xmlNodePtr child = node->children;
        xmlUnlinkNode(child);
        DocumentTree::Of(child).AddOrphan(child);
      }
      xmlNodePtr textNode = xmlNewDocTextLen(node->doc, chars, length);
      if (!textNode) throw std::bad_alloc();
      DocumentTree::Of(node).AddOrphan(textNode);
      InsertChild(node, textNode, nullptr);
      return;
    }
    if (node->type == XML_DOCUMENT_NODE) throw DomError{E_FAIL, "a document has no text of its own"};
    xmlNodeSetContentLen(node, chars, length);
  }
};

// ---------------------------------------------------------------------------------------
// Nodes other than the document

class DomNode final : public DomNodeBase {
public:
  explicit DomNode(xmlNodePtr node) : FNode(node) { NodeAnchor::Attach(FNode); }
  ~DomNode() override { NodeAnchor::Detach(FNode); }

  xmlNodePtr Node() const override { return FNode; }

protected:
  unsigned Classes() const override {
    switch (FNode->type) {
      case XML_ELEMENT_NODE: return kElement;
      case XML_ATTRIBUTE_NODE: return kAttribute;
      case XML_PI_NODE: return kInstruction;
      default: return kCharacterData;
    }
  }

  void Call(Member member, bool put, const Arguments& args, VARIANT* result) override {
    if (CallNodeMember(member, put, args, result)) return;
    switch (member) {
      case Member::ParentNode:
        args.Expect(0);
        // An attribute has no parent node in the DOM.
        return SetObject(result, FNode->type != XML_ATTRIBUTE_NODE && FNode->parent ? WrapNode(FNode->parent) : nullptr);
      case Member::PreviousSibling:
      case Member::NextSibling: {
        args.Expect(0);
        xmlNodePtr sibling = FNode->type == XML_ATTRIBUTE_NODE ? nullptr
                             : member == Member::NextSibling   ? FNode->next
                                                               : FNode->prev;
        return SetObject(result, sibling ? WrapNode(sibling) : nullptr);
      }
      case Member::OwnerDocument:
        args.Expect(0);
        return SetObject(result, WrapNode(reinterpret_cast<xmlNodePtr>(FNode->doc)));
      case Member::CloneNode:
        args.Expect(1);
        return SetObject(result, WrapNode(xml_dom::CloneNode(FNode, args.Bool(0))));
      case Member::NodeValue:
      case Member::Value:
      case Member::Data:
        if (FNode->type == XML_ELEMENT_NODE) {
          if (put) throw DomError{E_FAIL, "an element has no value of its own"};
          args.Expect(0);
          return SetNull(result);
        }
        if (put) {
          args.Expect(1);
          return SetNodeText(FNode, ToUtf8(args.Text(0)));
        }
        args.Expect(0);
        return SetText(result, NodeText(FNode));
      case Member::TagName:
      case Member::Name:
      case Member::Target:
        args.Expect(0);
        return SetText(result, xml_dom::NodeName(FNode));
      case Member::BaseName:
        args.Expect(0);
        return SetText(result, reinterpret_cast<const char*>(FNode->name));
      case Member::GetAttribute: {
        args.Expect(1);
        xmlAttrPtr attr = FindAttribute(FNode, ToUtf8(args.Text(0)));
        if (!attr) return SetNull(result);
        return SetText(result, NodeText(reinterpret_cast<xmlNodePtr>(attr)));
      }
      case Member::SetAttribute: {
        args.Expect(2);
        if ((args[1].vt & ~VT_BYREF) == VT_NULL) throw InvokeFailure{DISP_E_TYPEMISMATCH};
        xml_dom::SetAttribute(FNode, ToUtf8(args.Text(0)), ToUtf8(args.Text(1)));
        return;
      }
      case Member::RemoveAttribute:
        args.Expect(1);
        return xml_dom::RemoveAttribute(FNode, ToUtf8(args.Text(0)));
      default: throw InvokeFailure{DISP_E_MEMBERNOTFOUND};
    }
  }

private:
  xmlNodePtr FNode;
};

// ---------------------------------------------------------------------------------------
// The document

class DomDocument final : public DomNodeBase {
public:
  DomDocument() : DomDocument(DocumentTree::CreateEmpty()) {}
  // Takes over one reference on the tree.
  explicit DomDocument(DocumentTree* tree) : FTree(tree) { FTree->OwnerObject = this; }
  ~DomDocument() override { LeaveTree(); }

  xmlNodePtr Node() const override { return FTree->DocNode(); }

  // The document object standing for a tree: the one already there, or a new one.
  static IDispatch* For(DocumentTree& tree) {
    if (auto* owner = static_cast<DomDocument*>(tree.OwnerObject)) {
      owner->AddRef();
      return owner;
    }
    tree.AddRef();
    return new DomDocument(&tree);
  }

protected:
  unsigned Classes() const override { return kDocument; }

  void Call(Member member, bool put, const Arguments& args, VARIANT* result) override {
    if (CallNodeMember(member, put, args, result)) return;
    xmlDocPtr doc = FTree->Doc();
    switch (member) {
      case Member::LoadXml: {
        args.Expect(1);
        // Anything but text loads nothing, as with MSXML.
        DocumentTree* loaded = (args[0].vt & ~VT_BYREF) == VT_BSTR ? DocumentTree::Parse(args.Text(0), FPreserveWhiteSpace) : nullptr;
        ReplaceTree(loaded ? loaded : DocumentTree::CreateEmpty());
        return SetBool(result, loaded != nullptr);
      }
      case Member::Async: return Flag(FAsync, put, args, result);
      case Member::PreserveWhiteSpace: return Flag(FPreserveWhiteSpace, put, args, result);
      case Member::ValidateOnParse: return Flag(FValidateOnParse, put, args, result);
      case Member::ResolveExternals: return Flag(FResolveExternals, put, args, result);
      case Member::SetProperty: {
        args.Expect(2);
        Property& property = FindProperty(args.Text(0));
        property.Value.Clear();
        HRESULT hr = VariantCopy(&property.Value, const_cast<VARIANT*>(&args[1]));
        if (FAILED(hr)) throw InvokeFailure{hr};
        return;
      }
      case Member::GetProperty: {
        args.Expect(1);
        Property& property = FindProperty(args.Text(0));
        if (result) VariantCopy(result, &property.Value);
        return;
      }
      case Member::DocumentElement:
        if (put) {
          args.Expect(1);
          return SetDocumentElement(doc, NodeArgument(args, 0));
        }
        args.Expect(0);
        return SetObject(result, DocumentElement(doc) ? WrapNode(DocumentElement(doc)) : nullptr);
      case Member::CreateElement: {
        args.Expect(1);
        std::string name = ToUtf8(args.Text(0));
        if (name.empty()) throw DomError{E_FAIL, "an element name cannot be empty"};
        return SetObject(result, NewOrphan(xmlNewDocNode(doc, nullptr, Chars(name), nullptr)));
      }
      case Member::CreateProcessingInstruction: {
        args.Expect(2);
        std::string target = ToUtf8(args.Text(0));
        if (target.empty()) throw DomError{E_FAIL, "a processing instruction needs a target"};
        return SetObject(result, NewOrphan(xmlNewDocPI(doc, Chars(target), Chars(ToUtf8(args.Text(1))))));
      }
      case Member::CreateTextNode:
      case Member::CreateComment:
      case Member::CreateCDATASection: {
        args.Expect(1);
        std::string text = ToUtf8(args.Text(0));
        const xmlChar* chars = Chars(text);
        int length = static_cast<int>(text.size());
        xmlNodePtr node = member == Member::CreateTextNode ? xmlNewDocTextLen(doc, chars, length)
                          : member == Member::CreateComment ? xmlNewDocComment(doc, chars)
                                                            : xmlNewCDataBlock(doc, chars, length);
        return SetObject(result, NewOrphan(node));
      }
      case Member::CloneNode: {
        args.Expect(1);
        auto* copy = new DomDocument(DocumentTree::CopyOf(*FTree, args.Bool(0)));
        copy->FPreserveWhiteSpace = FPreserveWhiteSpace;
        copy->FProperties = FProperties;
        return SetObject(result, copy);
      }
      case Member::NodeValue:
        if (put) throw DomError{E_FAIL, "a document has no value of its own"};
        args.Expect(0);
        return SetNull(result);
      case Member::ParentNode:
      case Member::PreviousSibling:
      case Member::NextSibling:
      case Member::OwnerDocument:
        args.Expect(0);
        return SetObject(result, nullptr);
      default: throw InvokeFailure{DISP_E_MEMBERNOTFOUND};
    }
  }

private:
  struct Property {
    WideString Name;
    OleVariant Value;
  };

  static const xmlChar* Chars(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

  IDispatch* NewOrphan(xmlNodePtr node) {
    if (!node) throw std::bad_alloc();
    FTree->AddOrphan(node);
    return WrapNode(node);
  }

  void Flag(bool& flag, bool put, const Arguments& args, VARIANT* result) {
    if (put) {
      args.Expect(1);
      flag = args.Bool(0);
      return;
    }
    args.Expect(0);
    SetBool(result, flag);
  }

  // The second-level properties MSXML knows; any other name fails as it does there. The
  // selection language is recorded, but selection is always XPath 1.0.
  Property& FindProperty(const WideString& name) {
    static const char* const known[] = {"SelectionLanguage", "SelectionNamespaces", "ServerHTTPRequest",
                                        "NewParser", "ProhibitDTD", "AllowDocumentFunction",
                                        "AllowXsltScript", "MaxElementDepth", "MaxXMLSize",
                                        "ResolveExternals", "ValidateOnParse", "UseInlineSchema"};
    const char* const* found = std::find_if(std::begin(known), std::end(known),
                                            [&](const char* k) { return SameName(k, name.c_str()); });
    if (found == std::end(known)) throw DomError{E_FAIL, "unknown property: " + ToUtf8(name)};
    for (Property& property : FProperties)
      if (SameName(*found, property.Name.c_str())) return property;
    FProperties.push_back({FromUtf8(*found), OleVariant()});
    if (SameName(*found, u"SelectionLanguage")) FProperties.back().Value = OleVariant(FromUtf8("XPath"));
    return FProperties.back();
  }

  void ReplaceTree(DocumentTree* tree) {
    LeaveTree();
    FTree = tree;
    FTree->OwnerObject = this;
  }

  void LeaveTree() {
    if (FTree->OwnerObject == this) FTree->OwnerObject = nullptr;
    FTree->Release();
  }

  DocumentTree* FTree;
  bool FAsync = true;
  bool FPreserveWhiteSpace = false;
  bool FValidateOnParse = true;
  bool FResolveExternals = false;
  std::vector<Property> FProperties;
};

IDispatch* WrapNode(xmlNodePtr node) {
  if (node->type == XML_DOCUMENT_NODE) return DomDocument::For(DocumentTree::Of(node));
  return new DomNode(node);
}

// ---------------------------------------------------------------------------------------
// Creation

// Makes one document for the class factory registered under both program ids.
HRESULT CreateDomDocument(REFIID iid, void** object) {
  ComPtr<IDispatch> document;
  document.Attach(new DomDocument());
  return document->QueryInterface(iid, object);
}

}  // namespace

void EnsureXmlDomClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    static ProcessClassFactory factory(CreateDomDocument);
    RegisterAutomationClass(CLSID_Msxml2DOMDocument, OLESTR("Msxml2.DOMDocument"), &factory);
    RegisterAutomationClass(CLSID_MsxmlDOMDocument, OLESTR("MSXML.DOMDocument"), &factory);
  });
}

}  // namespace platform
