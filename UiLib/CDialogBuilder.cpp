#include "UiLib/CDialogBuilder.h"

#include <pugixml.hpp>

#include <algorithm>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "UiLib/CButtonGifUI.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CHorizontalLayoutUI.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuUI.h"
#include "UiLib/COptionUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/CTextUI.h"
#include "UiLib/CVerticalLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ElementKinds.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {
namespace {

constexpr int kMaxIncludeDepth = 8;
constexpr int kMaxNesting = 64;
constexpr int kMaxIncludeCount = 1000;
// Includes repeat files; a layout that multiplies them beyond any window is refused past this.
constexpr int kMaxControls = 20000;

void Fault(const std::string& file, const std::string& what) {
    ReportFault(file + ": " + what);
}

// The few names an element takes are looked up in place: a set built for every element of every
// layout loaded costs more than the element itself.
void CheckAttributes(const pugi::xml_node& node, std::initializer_list<std::string_view> known,
                     const std::string& file) {
    for (const auto& a : node.attributes()) {
        if (std::find(known.begin(), known.end(), std::string_view(a.name())) == known.end()) {
            Fault(file, std::string("unknown attribute ") + a.name() + " of " + node.name());
        }
    }
}

}  // namespace

CControlUI* CDialogBuilder::CreateControl(std::string_view e) {
    if (e == "Control") {
        return new CControlUI();
    }
    if (e == "Container") {
        return new CContainerUI();
    }
    if (e == "VerticalLayout") {
        return new CVerticalLayoutUI();
    }
    if (e == "HorizontalLayout") {
        return new CHorizontalLayoutUI();
    }
    if (e == "TabLayout") {
        return new CTabLayoutUI();
    }
    if (e == "Label") {
        return new CLabelUI();
    }
    if (e == "Text") {
        return new CTextUI();
    }
    if (e == "Button") {
        return new CButtonUI();
    }
    if (e == "Option") {
        return new COptionUI();
    }
    if (e == "Edit") {
        return new CEditUI();
    }
    if (e == "Progress") {
        return new CProgressUI();
    }
    if (e == "List") {
        return new CListUI();
    }
    if (e == "ListContainerElement") {
        return new CListContainerElementUI();
    }
    if (e == "ButtonGif") {
        return new CButtonGifUI();
    }
    if (e == "Menu") {
        return new CMenuUI();
    }
    if (e == "MenuElement") {
        return new CMenuElementUI();
    }
    return nullptr;
}

CControlUI* CDialogBuilder::Create(const std::string& file, CPaintManagerUI* manager) {
    manager_ = manager;
    controlsBuilt_ = 0;
    // A file built for a window that already has its tree (list items, the phone card) keeps
    // the window's size and fonts.
    topLevel_ = manager == nullptr || manager->GetRoot() == nullptr;
    styles_ = std::make_shared<StyleTable>();
    defaults_ = std::make_shared<StyleTable>();
    auto archive = CResourceArchive::Current();
    std::optional<std::vector<uint8_t>> bytes;
    if (archive) {
        bytes = archive->Read(file);
    }
    if (!bytes) {
        ReportFault("missing layout " + CResourceArchive::NormalizeName(file));
        return nullptr;
    }
    return Load(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                CResourceArchive::NormalizeName(file), nullptr, 0);
}

CControlUI* CDialogBuilder::CreateFromText(std::string_view xml, CPaintManagerUI* manager,
                                           const std::string& sourceName) {
    manager_ = manager;
    controlsBuilt_ = 0;
    topLevel_ = manager == nullptr || manager->GetRoot() == nullptr;
    styles_ = std::make_shared<StyleTable>();
    defaults_ = std::make_shared<StyleTable>();
    return Load(xml, sourceName, nullptr, 0);
}

CControlUI* CDialogBuilder::Load(std::string_view xml, const std::string& file,
                                 CContainerUI* parent, int depth) {
    pugi::xml_document doc;
    // Files are UTF-8 with or without a byte-order mark.
    pugi::xml_parse_result result =
        doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        Fault(file, std::string("malformed XML at offset ") + std::to_string(result.offset) + ": " +
                        result.description());
        // pugixml keeps the part read before the error; build from that.
    }
    pugi::xml_node root = doc.document_element();
    if (!root) {
        return nullptr;
    }
    UiGuard guard;
    CControlUI* first = nullptr;
    if (std::string_view(root.name()) == "Window") {
        if (topLevel_) {
            ParseWindowAttributes(root);
        }
        first = ParseControls(root, parent, file, depth);
    } else if (depth > kMaxNesting) {
        Fault(file, "layout nested too deeply");
    } else {
        // A file whose root is a control (includes and list items).
        ParseElement(root, parent, file, depth, first);
    }
    return first;
}

void CDialogBuilder::ParseWindowAttributes(const pugi::xml_node& window) {
    const std::string file = "Window";
    for (const auto& a : window.attributes()) {
        const std::string name = a.name();
        const std::string value = a.value();
        auto bad = [&] { ReportFault("bad value '" + value + "' of Window " + name); };
        if (manager_ == nullptr) {
            continue;
        }
        if (name == "size" || name == "mininfo" || name == "maxinfo" || name == "roundcorner") {
            auto s = ParseSize(value);
            if (!s || s->cx < 0 || s->cy < 0) {
                bad();
            } else if (name == "size") {
                manager_->SetInitSize(*s);
            } else if (name == "mininfo") {
                manager_->SetMinInfo(*s);
            } else if (name == "roundcorner") {
                manager_->SetRoundCorner(*s);
            }
        } else if (name == "caption" || name == "sizebox") {
            auto r = ParseRect(value);
            if (!r) {
                bad();
            } else if (name == "caption") {
                manager_->SetCaptionRect(*r);
            } else {
                manager_->SetSizeBox(*r);
            }
        } else if (name == "bktrans" || name == "showdirty") {
            auto b = ParseBool(value);
            if (!b) {
                bad();
            } else if (name == "bktrans") {
                manager_->SetBkTrans(*b);
            }
        } else {
            ReportFault("unknown attribute " + name + " of Window");
        }
    }
    (void)file;
}

void CDialogBuilder::ParseResource(const pugi::xml_node& node, const std::string& file) {
    const std::string_view element = node.name();
    if (element == "Font") {
        CheckAttributes(node, {"id", "name", "size", "bold", "underline", "italic", "default"},
                        file);
        if (!topLevel_) {
            return;  // an included file uses the fonts of the window it is part of
        }
        FontInfo font;
        font.name = node.attribute("name").as_string("DejaVu Sans");
        if (auto s = ParseInt(node.attribute("size").as_string("12")); s && *s > 0 && *s < 200) {
            font.size = *s;
        } else {
            Fault(file, std::string("bad font size '") + node.attribute("size").as_string() + "'");
        }
        auto flag = [&](const char* attr, bool& out) {
            if (pugi::xml_attribute a = node.attribute(attr)) {
                if (auto b = ParseBool(a.as_string())) {
                    out = *b;
                } else {
                    Fault(file, std::string("bad value '") + a.as_string() + "' of Font " + attr);
                }
            }
        };
        bool isDefault = false;
        flag("bold", font.bold);
        flag("underline", font.underline);
        flag("italic", font.italic);
        flag("default", isDefault);
        if (manager_ != nullptr) {
            manager_->AddFont(font, isDefault);
        }
    } else if (element == "Default") {
        CheckAttributes(node, {"name", "value", "shared"}, file);
        std::string fault;
        AttributeList list = ParseAttributeList(node.attribute("value").as_string(), &fault);
        if (!fault.empty()) {
            Fault(file,
                  "Default " + std::string(node.attribute("name").as_string()) + ": " + fault);
        }
        auto shared = std::make_shared<const AttributeList>(std::move(list));
        if (manager_ != nullptr) {
            manager_->AddDefaultAttributeList(node.attribute("name").as_string(), shared);
        }
        (*defaults_)[node.attribute("name").as_string()] = std::move(shared);
    } else if (element == "Styles") {
        CheckAttributes(node, {"name"}, file);
        for (const auto& child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            if (std::string_view(child.name()) != "Style") {
                Fault(file, std::string("unknown element ") + child.name() + " in Styles");
                continue;
            }
            ParseResource(child, file);
        }
    } else if (element == "Style") {
        const std::string name = node.attribute("stylename").as_string();
        if (name.empty()) {
            Fault(file, "Style without stylename");
            return;
        }
        AttributeList list;
        for (const auto& a : node.attributes()) {
            if (std::string_view(a.name()) != "stylename") {
                list.emplace_back(a.name(), a.value());
            }
        }
        auto shared = std::make_shared<const AttributeList>(std::move(list));
        if (manager_ != nullptr) {
            manager_->AddStyle(name, shared);
        }
        (*styles_)[name] = std::move(shared);
    } else if (element == "ActionScript") {
        // Animation groups are declared for the tab switch; the framework switches tabs at once,
        // so the declarations are checked and kept out of the tree.
        CheckAttributes(node, {"name"}, file);
        for (const auto& group : node.children()) {
            if (group.type() != pugi::node_element) {
                continue;
            }
            if (std::string_view(group.name()) != "AGroup") {
                Fault(file, std::string("unknown element ") + group.name() + " in ActionScript");
                continue;
            }
            CheckAttributes(group,
                            {"name", "msgtype", "msgvalue", "defaultinterval", "defaulttimer",
                             "defaultreverse", "defaultloop", "defaultautostart"},
                            file);
            for (const auto& prop : group.children()) {
                if (prop.type() != pugi::node_element) {
                    continue;
                }
                if (std::string_view(prop.name()) != "Property") {
                    Fault(file, std::string("unknown element ") + prop.name() + " in AGroup");
                    continue;
                }
                CheckAttributes(prop,
                                {"name", "type", "startvalue", "endvalue", "interval", "timer",
                                 "reverse", "loop", "autostart"},
                                file);
            }
        }
    } else if (element == "Image") {
        CheckAttributes(node, {"name", "restype", "mask", "shared"}, file);
    }
}

void CDialogBuilder::ApplyAttributes(CControlUI* control, const pugi::xml_node& node,
                                     const std::string& file) {
    const std::string element = node.name();
    // Class defaults first (the window's, then this file's), then the named style, then the
    // element's own attributes in order, so that what the element says wins.
    // The origin is named only in a fault: most lists apply without one.
    auto applyList = [&](const AttributeList& list, const char* kind, const std::string& name) {
        for (const auto& [n, v] : list) {
            if (!control->SetAttribute(n, v)) {
                Fault(file, kind + name + ": unknown attribute " + n + " of " + element);
            }
        }
    };
    if (manager_ != nullptr) {
        if (const AttributeList* d = manager_->GetDefaultAttributeList(element)) {
            applyList(*d, "Default ", element);
        }
    }
    if (auto it = defaults_->find(element); it != defaults_->end()) {
        applyList(*it->second, "Default ", element);
    }
    control->SetFileStyles(styles_);
    if (pugi::xml_attribute style = node.attribute("style")) {
        // This file's styles first, then the window's (an element file built for a window uses
        // the styles of the window's layout).
        const std::string name = style.as_string();
        const AttributeList* list = nullptr;
        if (auto it = styles_->find(name); it != styles_->end()) {
            list = it->second.get();
        } else if (manager_ != nullptr) {
            list = manager_->GetStyle(name);
        }
        if (list == nullptr) {
            Fault(file, "no style named " + name);
        } else {
            applyList(*list, "Style ", name);
        }
    }
    for (const auto& a : node.attributes()) {
        if (std::string_view(a.name()) == "style") {
            continue;
        }
        const std::string name = a.name();
        if (!control->SetAttribute(name, a.value())) {
            Fault(file, "unknown attribute " + name + " of " + element);
        }
    }
}

void CDialogBuilder::Include(const pugi::xml_node& node, CContainerUI* parent,
                             const std::string& file, int depth, CControlUI*& first) {
    CheckAttributes(node, {"source", "count"}, file);
    const std::string source = node.attribute("source").as_string();
    int count = 1;
    if (pugi::xml_attribute c = node.attribute("count")) {
        auto v = ParseInt(c.as_string());
        if (!v || *v < 0 || *v > kMaxIncludeCount) {
            Fault(file, std::string("bad Include count '") + c.as_string() + "'");
        } else {
            count = *v;
        }
    }
    if (source.empty()) {
        Fault(file, "Include without source");
        return;
    }
    if (includeDepth_ >= kMaxIncludeDepth) {
        Fault(file, "Include nested too deeply: " + source);
        return;
    }
    auto archive = CResourceArchive::Current();
    std::optional<std::vector<uint8_t>> bytes;
    if (archive) {
        bytes = archive->Read(source);
    }
    if (!bytes) {
        Fault(file, "missing include " + source);
        return;
    }
    const bool wasTop = topLevel_;
    topLevel_ = false;
    ++includeDepth_;
    for (int i = 0; i < count; ++i) {
        if (controlsBuilt_ >= kMaxControls) {
            Fault(file,
                  "more than " + std::to_string(kMaxControls) + " controls; the rest left out");
            break;
        }
        CControlUI* built =
            Load(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                 CResourceArchive::NormalizeName(source), parent, depth + 1);
        if (first == nullptr) {
            first = built;
        } else if (parent == nullptr && built != nullptr) {
            // Outside a container only one root can be kept.
            Fault(file, "more than one root control; Include of " + source + " left out");
            delete built;
        }
    }
    --includeDepth_;
    topLevel_ = wasTop;
}

CControlUI* CDialogBuilder::ParseControls(const pugi::xml_node& node, CContainerUI* parent,
                                          const std::string& file, int depth) {
    CControlUI* first = nullptr;
    if (depth > kMaxNesting) {
        Fault(file, "layout nested too deeply");
        return nullptr;
    }
    for (const auto& child : node.children()) {
        if (child.type() == pugi::node_element &&
            !ParseElement(child, parent, file, depth, first)) {
            break;
        }
    }
    return first;
}

bool CDialogBuilder::ParseElement(const pugi::xml_node& node, CContainerUI* parent,
                                  const std::string& file, int depth, CControlUI*& first) {
    const std::string element = node.name();
    if (IsLayoutResourceElement(element)) {
        ParseResource(node, file);
        return true;
    }
    if (std::string_view(element) == "Include") {
        Include(node, parent, file, depth, first);
        return true;
    }
    if (controlsBuilt_ >= kMaxControls) {
        Fault(file, "more than " + std::to_string(kMaxControls) + " controls; the rest left out");
        return false;
    }
    CControlUI* control = CreateControl(element);
    if (control == nullptr && callback_ != nullptr) {
        control = callback_->CreateControl(element);
    }
    if (control == nullptr) {
        Fault(file, "unknown element " + element);
        return true;
    }
    ++controlsBuilt_;
    // Attributes are applied before the control joins the tree so that its manager sees a
    // complete control; children come after, in document order.
    ApplyAttributes(control, node, file);
    if (parent != nullptr) {
        parent->Add(control);
    } else if (first != nullptr) {
        Fault(file, "more than one root control; " + element + " left out");
        delete control;
        return true;
    }
    if (first == nullptr) {
        first = control;
    }
    if (CContainerUI* container = control->AsContainer()) {
        ParseControls(node, container, file, depth + 1);
    } else if (node.first_child().type() == pugi::node_element) {
        Fault(file, element + " cannot hold controls");
    }
    return true;
}

}  // namespace UiLib
