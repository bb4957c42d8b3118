// The layout loader: builds a control tree from a layout file of the skin archive (or from
// text), with its Window attributes, fonts, class defaults and styles going to a paint manager.
//
// Faults (malformed XML, an unknown element or attribute, a bad value, a missing include) are
// reported once each; the tree is built from whatever could be read.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "UiLib/StyleTable.h"

namespace pugi {
class xml_node;
}

namespace UiLib {

class CControlUI;
class CContainerUI;
class CPaintManagerUI;

// Makes controls for elements the framework does not know (the windows' own classes).
class IDialogBuilderCallback {
  public:
    virtual ~IDialogBuilderCallback() = default;
    virtual CControlUI* CreateControl(const std::string& element) = 0;
};

class CDialogBuilder {
  public:
    explicit CDialogBuilder(IDialogBuilderCallback* callback = nullptr) : callback_(callback) {}

    // Builds the tree of a layout file ("xml\\skin.xml" or "xml/skin.xml"). With a manager, the
    // file's Window attributes, fonts, defaults and styles go to it. Returns the root control
    // (owned by the caller) or null when the file has no control at all.
    CControlUI* Create(const std::string& file, CPaintManagerUI* manager = nullptr);
    // The same from layout text; `sourceName` names it in fault reports.
    CControlUI* CreateFromText(std::string_view xml, CPaintManagerUI* manager = nullptr,
                               const std::string& sourceName = "<text>");

    // A control for an element name, or null for an unknown name.
    static CControlUI* CreateControl(std::string_view element);

  private:
    CControlUI* Load(std::string_view xml, const std::string& sourceName, CContainerUI* parent,
                     int depth);
    void ParseWindowAttributes(const pugi::xml_node& window);
    void ParseResource(const pugi::xml_node& node, const std::string& file);
    // Builds the controls of `node`'s children into `parent`; the first one built is returned.
    CControlUI* ParseControls(const pugi::xml_node& node, CContainerUI* parent,
                              const std::string& file, int depth);
    // One element: a resource, an include, or a control with its children. False once the
    // control limit is reached, when the rest of the file is left out.
    bool ParseElement(const pugi::xml_node& node, CContainerUI* parent, const std::string& file,
                      int depth, CControlUI*& first);
    void ApplyAttributes(CControlUI* control, const pugi::xml_node& node, const std::string& file);
    void Include(const pugi::xml_node& node, CContainerUI* parent, const std::string& file,
                 int depth, CControlUI*& first);

    IDialogBuilderCallback* callback_;
    CPaintManagerUI* manager_ = nullptr;
    std::shared_ptr<StyleTable> styles_;    // styles of the file being built
    std::shared_ptr<StyleTable> defaults_;  // Default elements, by class element name
    bool topLevel_ = true;                  // Window attributes and fonts only from the top
    int includeDepth_ = 0;
    int controlsBuilt_ = 0;
};

}  // namespace UiLib
