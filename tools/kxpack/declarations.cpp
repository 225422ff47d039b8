#include "tools/kxpack/declarations.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "base/declaration_rules.h"
#include "tools/kxpack/declaration_reader.h"
#include "tools/kxpack/folder_tree.h"
#include "tools/kxpack/name_rules.h"
#include "tools/kxpack/utf8.h"

namespace {

using kxdecl::DeclProblem;
using kxformat::DeclField;
using kxformat::DeclTable;
using kxformat::DeclValueKind;

const DeclTable* FindTable(const std::string& name) {
  for (const DeclTable& table : kxformat::kDeclTables)
    if (name == table.name) return &table;
  return nullptr;
}

size_t TableIndex(const DeclTable* table) { return static_cast<size_t>(table - kxformat::kDeclTables); }

const DeclField* FindField(const DeclTable& table, const std::string& name) {
  for (size_t i = 0; i < table.fieldCount; ++i)
    if (name == table.fields[i].name) return &table.fields[i];
  return nullptr;
}

std::u16string Utf16(const std::string& text) {
  std::u32string points;
  size_t bad = 0;
  DecodeUtf8(text, &points, &bad);
  std::u16string units;
  for (char32_t c : points) {
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  return units;
}

std::string ProblemText(DeclProblem problem, DeclValueKind kind) {
  switch (problem) {
    case DeclProblem::kNone: return "";
    case DeclProblem::kEmpty: return "must not be empty";
    case DeclProblem::kControlCharacter: return "holds a control character (a line break or tab, say)";
    case DeclProblem::kTooLong: return "is longer than 259 characters";
    case DeclProblem::kNotAFlag: return "must be true or false";
    case DeclProblem::kBadPath:
      return kind == DeclValueKind::kPayloadFolder
                 ? "must be a folder of the payload ('bin', 'tools/x') or '.' for the installation folder"
                 : "must be a file of the payload, a relative path without '..' ('bin/tool.exe')";
    case DeclProblem::kBadExtension: return "must be a dot and 1 to 32 letters, digits, '_' or '-' ('.qmk')";
    case DeclProblem::kBadProgId:
      return "must be at most 39 letters, digits and single dots, beginning with a letter ('Acme.Widget.1')";
    case DeclProblem::kBadVariableName:
      return "must be a variable name without '=', '%', '\"' or blanks, and not PATH (declare [[path]] for that)";
    case DeclProblem::kKeyRoot:
      return "must begin with HKLM\\Software, HKCU or HKA\\Software (HKA: the installation's own root, HKLM for "
             "all users, HKCU for the current user); no other part of the registry is written";
    case DeclProblem::kKeyOutsideSoftware:
      return "must lie below HKLM\\Software (or HKA\\Software) and name a key of the package there";
    case DeclProblem::kKeyClasses:
      return "lies below Software\\Classes: declare file associations with [[association]]";
    case DeclProblem::kKeyEnvironment:
      return "is the user's environment: declare variables with [[environment]] and PATH entries with [[path]]";
    case DeclProblem::kKeyBadComponent: return "has an empty key name (a doubled, leading or trailing backslash)";
    case DeclProblem::kBadType: return "must be one of string, expand, multi, dword, qword, binary";
    case DeclProblem::kBadData:
      return kind == DeclValueKind::kValueName ? "must not hold a double quote" : "does not fit the value's type";
    case DeclProblem::kBadChoice:
      return kind == DeclValueKind::kUninstall ? "must be \"remove\" or \"keep\""
                                               : "must be \"after_install\" or \"before_uninstall\"";
    case DeclProblem::kBadNumber: return "must be a number from 0 to 9999";
    case DeclProblem::kBadTaskName: return "must be 1 to 32 letters, digits or '_'";
    case DeclProblem::kTokenInName:
      return std::string("may not hold ") + kxformat::kInstallFolderToken + ": only data and values name the folder";
    case DeclProblem::kBadShortcutName:
      return "must be a file name of at most 251 characters (\".lnk\" is added): none of < > : \" / \\ | ? *, "
             "no trailing dot or blank (so no '..'), no device name such as CON or NUL";
    case DeclProblem::kBadLocation: return "must be \"start_menu\" or \"desktop\"";
  }
  return "is not allowed";
}

DeclProblem Judge(DeclValueKind kind, const std::string& text) {
  const std::u16string units = Utf16(text);
  return kxdecl::CheckDeclValue(kind, units.data(), units.size());
}

// The installation folder put in for the token may hold blanks ("Program
// Files"): an argument naming it is always quoted.
bool IsWindowsQuoteFree(const std::string& argument) {
  return !argument.empty() && argument.find_first_of(" \t\"") == std::string::npos &&
         argument.find(kxformat::kInstallFolderToken) == std::string::npos;
}

class EntryReader {
 public:
  EntryReader(const std::string& file, const DeclTable& table, size_t number, std::vector<std::string>* errors)
      : file_(file), table_(table), number_(number), errors_(errors) {}

  void Error(int line, const std::string& field, const std::string& message) {
    errors_->push_back(file_ + ":" + std::to_string(line) + ": " + Name(field) + ": " + message);
  }

  std::string Name(const std::string& field) const {
    return std::string(table_.name) + "[" + std::to_string(number_) + "]" + (field.empty() ? "" : "." + field);
  }

  void Read(const toml::table& entries, int line, DeclaredEntry* entry) {
    entry->line = line;
    for (auto&& [key, node] : entries) {
      const std::string name(key.str());
      const int keyLine = static_cast<int>(key.source().begin.line);
      const DeclField* field = FindField(table_, name);
      if (!field) {
        std::string known;
        for (size_t i = 0; i < table_.fieldCount; ++i) known += (known.empty() ? "" : ", ") + std::string(table_.fields[i].name);
        Error(keyLine, name, "unknown key; [[" + std::string(table_.name) + "]] takes " + known);
        continue;
      }
      std::string value;
      if (!Take(*field, node, keyLine, entries, &value)) continue;
      entry->fields[name] = value;
      entry->lines[name] = keyLine;
    }
    ApplyDefaults(entry);
    for (size_t i = 0; i < table_.fieldCount; ++i) {
      const DeclField& field = table_.fields[i];
      auto value = entry->fields.find(field.name);
      if (value == entry->fields.end()) {
        if (field.required && field.kind != DeclValueKind::kProgId)
          Error(line, field.name, "required key missing from this [[" + std::string(table_.name) + "]]");
        continue;
      }
      const DeclProblem problem = Judge(field.kind, value->second);
      if (problem != DeclProblem::kNone)
        Error(LineOf(*entry, field.name), field.name, "'" + PrintablePath(value->second) + "' " + ProblemText(problem, field.kind));
    }
    if (TableIndex(&table_) == kxformat::kDeclRegistry) CheckData(entry);
  }

 private:
  static int LineOf(const DeclaredEntry& entry, const std::string& field) {
    auto found = entry.lines.find(field);
    return found == entry.lines.end() ? entry.line : found->second;
  }

  // The node as the package data's text; false after reporting.
  bool Take(const DeclField& field, const toml::node& node, int line, const toml::table& entries, std::string* value) {
    switch (field.kind) {
      case DeclValueKind::kFlag:
        if (!node.is_boolean()) return Error(line, field.name, "must be true or false"), false;
        *value = *node.value<bool>() ? "1" : "0";
        return true;
      case DeclValueKind::kIconIndex:
        if (!node.is_integer()) return Error(line, field.name, "must be a number from 0 to 9999"), false;
        *value = std::to_string(*node.value<int64_t>());
        return true;
      case DeclValueKind::kArguments: {
        const toml::array* list = node.as_array();
        if (!list || (!list->empty() && !list->is_homogeneous<std::string>()))
          return Error(line, field.name, "must be a list of texts in quotes, [\"--quiet\", \"{install_folder}\"]"), false;
        std::vector<std::string> arguments;
        for (const toml::node& element : *list) arguments.push_back(*element.value<std::string>());
        *value = QuoteArguments(arguments);
        return true;
      }
      case DeclValueKind::kRegistryData:
        return TakeData(node, line, entries, value);
      case DeclValueKind::kPayloadPath:
      case DeclValueKind::kPayloadFolder: {
        if (!node.is_string()) return Error(line, field.name, "must be a text in quotes"), false;
        const std::string text = *node.value<std::string>();
        if (field.kind == DeclValueKind::kPayloadFolder && text == ".") return *value = text, true;
        std::vector<std::string> components;
        const std::string problem = RelativePathProblem(text, &components);
        if (!problem.empty()) return Error(line, field.name, "'" + PrintablePath(text) + "' " + problem), false;
        for (const std::string& part : components) *value += (value->empty() ? "" : "\\") + part;
        return true;
      }
      default:
        if (!node.is_string()) return Error(line, field.name, "must be a text in quotes"), false;
        *value = *node.value<std::string>();
        return true;
    }
  }

  // Registry data: a text, a number for dword and qword, a list of texts for
  // multi; judged against the type in CheckData.
  bool TakeData(const toml::node& node, int line, const toml::table& entries, std::string* value) {
    if (node.is_integer()) {
      const int64_t number = *node.value<int64_t>();
      if (number < 0) return Error(line, "data", "must not be negative"), false;
      *value = std::to_string(number);
      return true;
    }
    if (node.is_string()) {
      *value = *node.value<std::string>();
      return true;
    }
    const toml::array* list = node.as_array();
    const toml::node* type = entries.get("type");
    if (list && (list->empty() || list->is_homogeneous<std::string>()) && type && type->value<std::string>() &&
        *type->value<std::string>() == "multi") {
      for (const toml::node& element : *list) {
        const std::string text = *element.value<std::string>();
        if (text.find(kxformat::kMultiStringSeparator) != std::string::npos)
          return Error(line, "data", "a string of a multi value may not hold '|'"), false;
        if (text.empty()) return Error(line, "data", "a string of a multi value may not be empty"), false;
        *value += (value->empty() ? "" : "|") + text;
      }
      return true;
    }
    Error(line, "data", "must be a text, a number (dword, qword) or a list of texts (multi)");
    return false;
  }

  void ApplyDefaults(DeclaredEntry* entry) {
    auto fill = [&](const char* field, const char* value) { entry->fields.emplace(field, value); };
    switch (TableIndex(&table_)) {
      case kxformat::kDeclRegistry:
        fill("type", "string");
        fill("uninstall", "remove");
        break;
      case kxformat::kDeclRun:
        fill("when", "after_install");
        fill("wait", "1");
        break;
      case kxformat::kDeclShortcut:
        fill("location", "start_menu");
        break;
      case kxformat::kDeclTask:
        // An optional step is left out unless its author says otherwise.
        fill("default", "0");
        break;
      default:
        break;
    }
  }

  void CheckData(DeclaredEntry* entry) {
    const std::string& type = entry->fields["type"];
    const std::u16string typeUnits = Utf16(type);
    const kxdecl::RegistryType parsed = kxdecl::ParseRegistryType(typeUnits.data(), typeUnits.size());
    if (parsed == kxdecl::RegistryType::kUnknown) return;  // reported with the type
    auto data = entry->fields.find("data");
    if (data == entry->fields.end()) {
      if (parsed == kxdecl::RegistryType::kDword || parsed == kxdecl::RegistryType::kQword)
        Error(entry->line, "data", "required for a " + type + " value");
      else
        entry->fields["data"] = "";
      return;
    }
    const std::u16string units = Utf16(data->second);
    if (kxdecl::CheckRegistryData(parsed, units.data(), units.size()) != DeclProblem::kNone)
      Error(LineOf(*entry, "data"), "data",
            "'" + PrintablePath(data->second) + "' does not fit type " + type +
                (parsed == kxdecl::RegistryType::kBinary ? " (pairs of hexadecimal digits, \"01ff\")"
                                                         : " (a number without sign or leading zeros)"));
  }

  const std::string& file_;
  const DeclTable& table_;
  size_t number_;
  std::vector<std::string>* errors_;
};

// The ProgID kxpack makes of the product's name and the extension:
// "SampleApp.qmk"; letters and digits only, so that the rule holds.
std::string DefaultProgId(const std::string& productName, const std::string& extension) {
  std::string name;
  for (char c : productName)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) name += c;
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name = "Package" + name;
  std::string suffix;
  for (char c : extension.substr(1))
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) suffix += c;
  std::string progId = name.substr(0, 38 - std::min<size_t>(suffix.size(), 16)) + (suffix.empty() ? "" : ".") +
                       suffix.substr(0, 16);
  return progId;
}

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace

bool Declarations::Empty() const {
  for (const auto& table : tables)
    if (!table.empty()) return false;
  return true;
}

bool IsDeclarationTable(const std::string& name) { return FindTable(name) != nullptr; }

void CollectDeclarations(const std::string& file, const std::string& name, const toml::node& node, int line,
                         Declarations* declarations, std::vector<std::string>* errors) {
  const DeclTable* table = FindTable(name);
  const toml::array* entries = node.as_array();
  if (!table) return;
  if (!entries || !entries->is_array_of_tables()) {
    errors->push_back(file + ":" + std::to_string(line) + ": " + name + ": must be an array of tables, [[" + name +
                      "]], one for each");
    return;
  }
  std::vector<DeclaredEntry>& list = declarations->tables[TableIndex(table)];
  for (const toml::node& element : *entries) {
    const size_t number = list.size() + 1;
    const int entryLine = static_cast<int>(element.source().begin.line);
    if (number > table->capacity) {
      errors->push_back(file + ":" + std::to_string(entryLine) + ": " + name + ": more than " +
                        std::to_string(table->capacity) + " [[" + name + "]] tables");
      return;
    }
    DeclaredEntry entry;
    EntryReader(file, *table, number, errors).Read(*element.as_table(), entryLine, &entry);
    list.push_back(std::move(entry));
  }
}

void CompleteDeclarations(const std::string& file, const std::string& productName, Declarations* declarations,
                          std::vector<std::string>* errors) {
  auto report = [&](const DeclaredEntry& entry, const std::string& key, const std::string& message) {
    auto line = entry.lines.find(key.substr(key.find('.') + 1));
    errors->push_back(file + ":" + std::to_string(line == entry.lines.end() ? entry.line : line->second) + ": " +
                      key + ": " + message);
  };
  // Each extension, ProgID, variable, PATH folder and registry value once:
  // a second declaration would undo the first one's record at uninstall.
  struct Unique {
    size_t table;
    std::vector<const char*> fields;
    const char* what;
  };
  const Unique uniques[] = {{kxformat::kDeclAssociation, {"extension"}, "extension"},
                            {kxformat::kDeclAssociation, {"progid"}, "ProgID"},
                            {kxformat::kDeclPath, {"folder"}, "folder"},
                            {kxformat::kDeclEnvironment, {"name"}, "variable"},
                            {kxformat::kDeclRegistry, {"key", "name"}, "registry value"},
                            {kxformat::kDeclShortcut, {"name", "location"}, "shortcut (name and location)"},
                            {kxformat::kDeclTask, {"name"}, "task"}};
  std::vector<DeclaredEntry>& associations = declarations->tables[kxformat::kDeclAssociation];
  for (DeclaredEntry& entry : associations) {
    auto extension = entry.fields.find("extension");
    if (extension != entry.fields.end() && !entry.fields.count("progid"))
      entry.fields["progid"] = DefaultProgId(productName, extension->second);
  }
  for (const Unique& unique : uniques) {
    std::set<std::string> seen;
    const std::vector<DeclaredEntry>& list = declarations->tables[unique.table];
    for (size_t i = 0; i < list.size(); ++i) {
      std::string key;
      for (const char* field : unique.fields) {
        auto value = list[i].fields.find(field);
        key += Lower(value == list[i].fields.end() ? "" : value->second) + "\n";
      }
      if (!seen.insert(key).second)
        report(list[i],
               std::string(kxformat::kDeclTables[unique.table].name) + "[" + std::to_string(i + 1) + "]." +
                   unique.fields[0],
               "the same " + std::string(unique.what) + " is declared twice");
    }
  }
  // A declaration's task must be one the tasks page offers: a misspelt
  // name would make it never happen.
  std::set<std::string> tasks;
  for (const DeclaredEntry& task : declarations->tables[kxformat::kDeclTask]) {
    auto name = task.fields.find("name");
    if (name != task.fields.end()) tasks.insert(Lower(name->second));
  }
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const std::vector<DeclaredEntry>& list = declarations->tables[t];
    for (size_t i = 0; i < list.size(); ++i) {
      auto task = list[i].fields.find("task");
      if (t == kxformat::kDeclTask || task == list[i].fields.end() || tasks.count(Lower(task->second))) continue;
      report(list[i], std::string(kxformat::kDeclTables[t].name) + "[" + std::to_string(i + 1) + "].task",
             "'" + task->second + "' is no declared task: declare it with [[task]] name = \"" + task->second +
                 "\"" + (tasks.empty() ? "" : ", or name one of the declared tasks"));
    }
  }
}

void CheckDeclaredPayload(const std::string& file, const Declarations& declarations,
                          const std::function<bool(const std::string&, bool)>& isInPayload,
                          std::vector<std::string>* errors) {
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const DeclTable& table = kxformat::kDeclTables[t];
    for (size_t i = 0; i < declarations.tables[t].size(); ++i) {
      const DeclaredEntry& entry = declarations.tables[t][i];
      for (size_t f = 0; f < table.fieldCount; ++f) {
        const DeclField& field = table.fields[f];
        if (field.kind != DeclValueKind::kPayloadPath && field.kind != DeclValueKind::kPayloadFolder) continue;
        auto value = entry.fields.find(field.name);
        if (value == entry.fields.end() || value->second == ".") continue;
        std::string path = value->second;
        std::replace(path.begin(), path.end(), '\\', '/');
        const bool folder = field.kind == DeclValueKind::kPayloadFolder;
        if (isInPayload(path, folder)) continue;
        auto line = entry.lines.find(field.name);
        errors->push_back(file + ":" + std::to_string(line == entry.lines.end() ? entry.line : line->second) + ": " +
                          table.name + "[" + std::to_string(i + 1) + "]." + field.name + ": '" + path + "' is not a " +
                          (folder ? "folder" : "file") + " in the payload folder");
      }
    }
  }
}

std::string DeclarationDataText(const Declarations& declarations) {
  std::string text;
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const DeclTable& table = kxformat::kDeclTables[t];
    for (size_t i = 0; i < declarations.tables[t].size(); ++i)
      for (size_t f = 0; f < table.fieldCount; ++f) {
        auto value = declarations.tables[t][i].fields.find(table.fields[f].name);
        if (value != declarations.tables[t][i].fields.end())
          text += std::string(table.name) + "." + std::to_string(i + 1) + "." + table.fields[f].name + "=" +
                  value->second + "\n";
      }
  }
  return text;
}

bool TakeDeclarationLines(std::map<std::string, std::string>* found, std::string* error) {
  std::map<std::string, std::set<std::string>> entries;  // "table.n" -> its fields
  for (auto it = found->begin(); it != found->end();) {
    const std::string& key = it->first;
    const size_t first = key.find('.');
    const DeclTable* table = first == std::string::npos ? nullptr : FindTable(key.substr(0, first));
    if (!table) {
      ++it;
      continue;
    }
    const size_t second = key.find('.', first + 1);
    const std::string number = second == std::string::npos ? "" : key.substr(first + 1, second - first - 1);
    const DeclField* field = second == std::string::npos ? nullptr : FindField(*table, key.substr(second + 1));
    if (number.empty() || number.size() > 2 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos || std::stoul(number) > table->capacity || !field) {
      *error = "it holds an unknown key, " + key;
      return false;
    }
    if (Judge(field->kind, it->second) != DeclProblem::kNone) {
      *error = key + " is not allowed: '" + it->second + "'";
      return false;
    }
    entries[key.substr(0, second)].insert(field->name);
    it = found->erase(it);
  }
  for (const DeclTable& table : kxformat::kDeclTables) {
    size_t count = 0;
    while (entries.count(std::string(table.name) + "." + std::to_string(count + 1))) ++count;
    for (const auto& [entry, fields] : entries) {
      if (entry.compare(0, std::strlen(table.name) + 1, std::string(table.name) + ".") != 0) continue;
      if (std::stoul(entry.substr(std::strlen(table.name) + 1)) > count) {
        *error = "its " + std::string(table.name) + " entries are not numbered 1, 2, ... without gaps";
        return false;
      }
      for (size_t f = 0; f < table.fieldCount; ++f)
        if (table.fields[f].required && !fields.count(table.fields[f].name)) {
          *error = entry + " lacks " + table.fields[f].name;
          return false;
        }
    }
  }
  return true;
}

std::string QuoteArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    if (IsWindowsQuoteFree(argument)) {
      line += argument;
      continue;
    }
    // Backslashes are doubled only before a quote, the argument's own or the
    // closing one: that is how the C runtime reads them back.
    line += '"';
    size_t backslashes = 0;
    for (char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        line.append(backslashes * 2 + 1, '\\');
      } else {
        line.append(backslashes, '\\');
      }
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

void CheckDeclarationsForScope(const std::string& file, bool currentUser, const Declarations& declarations,
                               std::vector<std::string>* errors) {
  if (!currentUser) return;
  const std::vector<DeclaredEntry>& list = declarations.tables[kxformat::kDeclRegistry];
  for (size_t i = 0; i < list.size(); ++i) {
    auto key = list[i].fields.find("key");
    if (key == list[i].fields.end()) continue;
    const std::string lower = Lower(key->second);
    if (lower.rfind("hklm\\", 0) != 0 && lower.rfind("hkey_local_machine\\", 0) != 0) continue;
    auto line = list[i].lines.find("key");
    errors->push_back(file + ":" + std::to_string(line == list[i].lines.end() ? list[i].line : line->second) +
                      ": registry[" + std::to_string(i + 1) + "].key: '" + key->second +
                      "' is machine-wide, which a package installed for the current user cannot write: use HKA or HKCU");
  }
}
