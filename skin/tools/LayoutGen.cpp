// Generates typed accessors from the layouts of a skin: for every XML_DIR/*.xml, a header
// OUT_DIR/skin/layouts/<name>.h with a class <Name>Layout (tolvane::skin) holding one method per
// named control, returning the class its element makes (UiLib/ElementKinds.h); and
// OUT_DIR/AllLayouts.cpp, the table of every layout's controls for the test-time check.
//
//   uilib-layoutgen XML_DIR OUT_DIR
//
// Controls are taken in the order the layout loader builds them, includes in place (their
// sources are relative to the parent of XML_DIR, as in the archive); a name found twice names
// the first, as FindControl does. Sub-items of menu items are not in the tree and are left out.
// Anything the loader would not build as written fails the generation: malformed XML, an
// unknown element, a missing include, a name used for two kinds of control.
#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "UiLib/ElementKinds.h"

namespace fs = std::filesystem;

namespace {

struct Control {
    std::string name;
    const UiLib::ElementKind* kind;
    std::string file;  // where it is written (an include, perhaps)
};

struct Layout {
    std::string file;       // "ElementPhone.xml"
    std::string base;       // "ElementPhone"
    std::string className;  // "ElementPhoneLayout"
    std::vector<Control> controls;
};

class Generator {
  public:
    explicit Generator(fs::path root) : root_(std::move(root)) {}

    bool Read(const fs::path& path, Layout& layout) { return Load(path, layout, 0); }
    const std::vector<std::string>& Errors() const { return errors_; }

  private:
    bool Load(const fs::path& path, Layout& layout, int depth) {
        const std::string file = fs::relative(path, root_).generic_string();
        if (depth > 8) {
            return Error(file, "includes nested too deeply");
        }
        pugi::xml_document doc;
        pugi::xml_parse_result result =
            doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_utf8);
        if (!result) {
            return Error(file, std::string("malformed XML: ") + result.description() +
                                   " at offset " + std::to_string(result.offset));
        }
        pugi::xml_node root = doc.document_element();
        if (std::string(root.name()) == "Window") {
            return Children(root, layout, file, depth);
        }
        return Element(root, layout, file, depth);
    }

    bool Children(const pugi::xml_node& node, Layout& layout, const std::string& file, int depth) {
        bool ok = true;
        for (const auto& child : node.children()) {
            if (child.type() == pugi::node_element) {
                ok = Element(child, layout, file, depth) && ok;
            }
        }
        return ok;
    }

    bool Element(const pugi::xml_node& node, Layout& layout, const std::string& file, int depth) {
        const std::string element = node.name();
        if (UiLib::IsLayoutResourceElement(element)) {
            return true;
        }
        if (element == "Include") {
            std::string source = node.attribute("source").as_string();
            std::replace(source.begin(), source.end(), '\\', '/');
            if (source.empty()) {
                return Error(file, "Include without source");
            }
            const fs::path included = root_ / source;
            if (!fs::exists(included)) {
                return Error(file, "missing include " + source);
            }
            return Load(included, layout, depth + 1);
        }
        const UiLib::ElementKind* kind = UiLib::FindElementKind(element);
        if (kind == nullptr) {
            return Error(file, "unknown element " + element);
        }
        bool ok = true;
        if (const std::string name = node.attribute("name").as_string(); !name.empty()) {
            auto same = std::find_if(layout.controls.begin(), layout.controls.end(),
                                     [&](const Control& c) { return c.name == name; });
            if (same == layout.controls.end()) {
                layout.controls.push_back({name, kind, file});
            } else if (same->kind != kind) {
                ok = Error(file, "the name " + name + " is a " + same->kind->element + " in " +
                                     same->file + " and a " + element + " here");
            }
        }
        if (!kind->container) {
            return ok;
        }
        for (const auto& child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            // Nested menu items are the item's sub-items, kept apart from the tree.
            if (element == "MenuElement" && std::string(child.name()) == "MenuElement") {
                continue;
            }
            ok = Element(child, layout, file, depth) && ok;
        }
        return ok;
    }

    bool Error(const std::string& file, const std::string& what) {
        errors_.push_back(file + ": " + what);
        return false;
    }

    fs::path root_;
    std::vector<std::string> errors_;
};

// "menu_assist" -> "MenuAssist", "MessageBox_Error" -> "MessageBoxError", "skin" -> "Skin".
std::string ClassBase(const std::string& base) {
    std::string out;
    bool upper = true;
    for (char c : base) {
        if (c == '_' || c == '-' || c == '.' || c == ' ') {
            upper = true;
            continue;
        }
        out.push_back(upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c);
        upper = false;
    }
    return out;
}

const std::set<std::string>& Keywords() {
    static const std::set<std::string> words = {
        "alignas",  "alignof",  "and",     "asm",       "auto",      "bool",     "break",
        "case",     "catch",    "char",    "class",     "const",     "continue", "default",
        "delete",   "do",       "double",  "else",      "enum",      "explicit", "export",
        "extern",   "false",    "float",   "for",       "friend",    "goto",     "if",
        "inline",   "int",      "long",    "mutable",   "namespace", "new",      "not",
        "or",       "operator", "private", "protected", "public",    "register", "return",
        "short",    "signed",   "sizeof",  "static",    "struct",    "switch",   "template",
        "this",     "throw",    "true",    "try",       "typedef",   "typename", "union",
        "unsigned", "using",    "virtual", "void",      "volatile",  "while",    "kFile"};
    return words;
}

// A method name for a control name: the name itself where C++ allows it.
std::string Identifier(const std::string& name) {
    std::string id;
    for (char c : name) {
        id.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '_' ? c : '_');
    }
    if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0]))) {
        id.insert(id.begin(), '_');
    }
    if (Keywords().contains(id) || id.ends_with("_")) {
        id += "_";
    }
    return id;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out + "\"";
}

bool WriteIfChanged(const fs::path& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::stringstream old;
        old << in.rdbuf();
        if (old.str() == text) {
            return true;
        }
    }
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string Header(const Layout& layout, std::vector<std::string>& errors) {
    std::set<std::string> headers = {"UiLib/LayoutAccessor.h"};
    for (const Control& c : layout.controls) {
        headers.insert(c.kind->header);
    }
    std::ostringstream h;
    h << "// Generated by uilib-layoutgen from xml/" << layout.file
      << " with its includes; do not edit.\n#pragma once\n\n";
    for (const auto& inc : headers) {
        h << "#include \"" << inc << "\"\n";
    }
    h << "\nnamespace tolvane::skin {\n\n"
      << "class " << layout.className << " : public UiLib::LayoutAccessor {\n  public:\n"
      << "    static constexpr const char* kFile = " << Quote("xml\\" + layout.file) << ";\n"
      << "    using LayoutAccessor::LayoutAccessor;\n\n";
    std::map<std::string, std::string> used;
    for (const Control& c : layout.controls) {
        const std::string id = Identifier(c.name);
        if (auto [it, fresh] = used.emplace(id, c.name); !fresh) {
            errors.push_back(layout.file + ": the names " + it->second + " and " + c.name +
                             " make the same method " + id);
            continue;
        }
        h << "    UiLib::" << c.kind->cppClass << "* " << id << "() const {\n"
          << "        return Find_<UiLib::" << c.kind->cppClass << ">(kFile, " << Quote(c.name)
          << ", " << Quote(c.kind->cppClass) << ");\n    }\n";
    }
    h << "};\n\n}  // namespace tolvane::skin\n";
    return h.str();
}

std::string Table(const std::vector<Layout>& layouts) {
    std::ostringstream t;
    t << "// Generated by uilib-layoutgen; do not edit.\n#include \"skin/Layouts.h\"\n\n";
    for (const Layout& l : layouts) {
        t << "#include \"skin/layouts/" << l.base << ".h\"\n";
    }
    t << "\nnamespace tolvane::skin {\nnamespace {\n\n";
    for (const Layout& l : layouts) {
        t << "const GeneratedControl k" << l.className << "[] = {\n";
        for (const Control& c : l.controls) {
            t << "    {" << Quote(c.name) << ", " << Quote(c.kind->element)
              << ", [](UiLib::CControlUI* c) { return dynamic_cast<UiLib::" << c.kind->cppClass
              << "*>(c) != nullptr; },\n     [](UiLib::CControlUI* root) { return " << l.className
              << "(root)." << Identifier(c.name) << "() != nullptr; }},\n";
        }
        if (l.controls.empty()) {
            t << "    {nullptr, nullptr, nullptr, nullptr},\n";
        }
        t << "};\n";
    }
    t << "\nconst GeneratedLayout kLayouts[] = {\n";
    for (const Layout& l : layouts) {
        t << "    {" << l.className << "::kFile, k" << l.className << ", " << l.controls.size()
          << "},\n";
    }
    t << "};\n\n}  // namespace\n\nstd::span<const GeneratedLayout> GeneratedLayouts() {\n"
      << "    return kLayouts;\n}\n\n}  // namespace tolvane::skin\n";
    return t.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: uilib-layoutgen XML_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path xmlDir = fs::absolute(argv[1]);
    const fs::path outDir = argv[2];
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(xmlDir)) {
        if (e.is_regular_file() && e.path().extension() == ".xml") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    Generator generator(xmlDir.parent_path());
    std::vector<Layout> layouts;
    std::vector<std::string> errors;
    for (const auto& path : files) {
        Layout layout;
        layout.file = path.filename().string();
        layout.base = path.stem().string();
        layout.className = ClassBase(layout.base) + "Layout";
        generator.Read(path, layout);
        layouts.push_back(std::move(layout));
    }
    errors = generator.Errors();
    std::vector<std::pair<fs::path, std::string>> outputs;
    for (const Layout& l : layouts) {
        outputs.emplace_back(outDir / "skin" / "layouts" / (l.base + ".h"), Header(l, errors));
    }
    outputs.emplace_back(outDir / "AllLayouts.cpp", Table(layouts));
    if (!errors.empty()) {
        for (const auto& e : errors) {
            std::fprintf(stderr, "uilib-layoutgen: %s\n", e.c_str());
        }
        return 1;
    }
    for (const auto& [path, text] : outputs) {
        if (!WriteIfChanged(path, text)) {
            std::fprintf(stderr, "uilib-layoutgen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
