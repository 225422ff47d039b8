#include "tools/kxpack/package_description.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "base/version_order.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/declaration_reader.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/folder_tree.h"
#include "tools/kxpack/name_rules.h"
#include "tools/kxpack/page_text.h"
#include "tools/kxpack/toml_parser.h"
#include "tools/kxpack/utf8.h"
#include "tools/kxpack/winget_manifest.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { kText, kFlag, kFile, kNames, kFiles };

struct KeyRule {
  const char* key;  // "table.name"
  Kind kind;
  bool required;
};

const KeyRule kKeys[] = {
    {"product.name", Kind::kText, true},
    {"product.version", Kind::kText, true},
    {"product.publisher", Kind::kText, true},
    {"product.url", Kind::kText, false},
    {"product.uninstall_key", Kind::kText, false},
    {"product.wizard_label", Kind::kText, false},
    {"product.window_title", Kind::kText, false},
    {"install.folder", Kind::kText, false},
    {"install.start_menu_folder", Kind::kText, false},
    {"install.program", Kind::kText, true},
    {"install.shortcut", Kind::kText, false},
    {"install.scope", Kind::kText, false},
    {"install.allow_downgrade", Kind::kFlag, false},
    {"install.msi_exit_codes", Kind::kFlag, false},
    {"tasks.start_program", Kind::kFlag, false},
    {"tasks.open_folder", Kind::kFlag, false},
    {"tasks.start_program_silent", Kind::kFlag, false},
    {"tasks.open_folder_silent", Kind::kFlag, false},
    {"pages.welcome", Kind::kFile, false},
    {"pages.licence", Kind::kFile, true},
    {"pages.finish", Kind::kFile, false},
    {"pages.watermark", Kind::kFiles, false},
    {"pages.header", Kind::kFiles, false},
    {"pages.icon", Kind::kFile, false},
    {"payload.folder", Kind::kText, true},
    {"manifest.id", Kind::kText, false},
    {"manifest.licence", Kind::kText, false},
    {"manifest.short_description", Kind::kText, false},
    {"languages.offer", Kind::kNames, false},
    {"languages.ask", Kind::kFlag, false},
};

const char* const kTables[] = {"product", "install", "tasks", "pages", "payload", "manifest", "languages"};

// The pages a language may give in [pages.<language>].
const char* const kLanguagePages[] = {"welcome", "licence", "finish"};

struct Value {
  bool present = false;
  int line = 0;
  std::string text;
  bool flag = false;
  std::vector<std::string> names;  // Kind::kNames and kFiles
};

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// " (did you mean 'x'?)" for a near miss among the known names.
std::string Suggestion(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& candidate : known) {
    size_t distance = EditDistance(name, candidate);
    if (distance < bestDistance) bestDistance = distance, best = candidate;
  }
  return best.empty() ? "" : " (did you mean '" + best + "'?)";
}

class DescriptionReader {
 public:
  // shipped: the languages a package may offer; null to leave the languages
  // unjudged (LoadDescriptionTexts).
  DescriptionReader(const std::string& file, const ShippedLanguages* shipped, PackageDescription* description)
      : file_(file), folder_(fs::absolute(file).parent_path()), shipped_(shipped ? *shipped : kNoLanguages),
        judgeLanguages_(shipped != nullptr), d_(description) {}

  // filesToo: read the pages, images and payload as well.
  bool Read(const std::string& payloadOverride, bool filesToo, std::string* errors) {
    if (ParseAndCollect()) {
      ApplyDefaults();
      CompleteDeclarations(file_, d_->name, &d_->declarations, &errors_);
      CheckDeclarationsForScope(file_, d_->scope != kxformat::kScopeAllUsers, d_->declarations, &errors_);
      CheckTexts();
      CheckListing();
      if (filesToo) {
        CheckLanguages();
        ReadFiles();
        CheckPayload(payloadOverride);
      }
    }
    for (const std::string& error : errors_) *errors += (errors->empty() ? "" : "\n") + error;
    return errors_.empty();
  }

 private:
  void Error(int line, const std::string& key, const std::string& message) {
    errors_.push_back(file_ + ":" + std::to_string(line) + ": " + key + ": " + message);
  }

  // Parses the file and takes every known key's value; false when the
  // description cannot be read any further.
  bool ParseAndCollect() {
    std::vector<unsigned char> bytes;
    std::string problem;
    if (!ReadInputFile(file_, kMaxDescriptionBytes, &bytes, &problem)) {
      errors_.push_back(problem);
      return false;
    }
    toml::table root;
    try {
      root = toml::parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), file_);
    } catch (const toml::parse_error& error) {
      errors_.push_back(file_ + ":" + std::to_string(error.source().begin.line) + ":" +
                        std::to_string(error.source().begin.column) + ": " + std::string(error.description()));
      return false;
    }
    std::vector<std::string> tableNames(std::begin(kTables), std::end(kTables));
    for (const kxformat::DeclTable& table : kxformat::kDeclTables) tableNames.push_back(table.name);
    for (auto&& [key, node] : root) {
      const std::string name(key.str());
      const int line = static_cast<int>(key.source().begin.line);
      if (IsDeclarationTable(name)) {
        CollectDeclarations(file_, name, node, line, &d_->declarations, &errors_);
      } else if (std::find(tableNames.begin(), tableNames.end(), name) == tableNames.end()) {
        Error(line, name, "unknown key" + Suggestion(name, tableNames));
      } else if (!node.is_table()) {
        Error(line, name, "must be a table, [" + name + "]");
      } else {
        tableLines_[name] = static_cast<int>(node.source().begin.line);
        CollectTable(name, *node.as_table());
      }
    }
    for (const KeyRule& rule : kKeys) {
      if (!rule.required || values_[rule.key].present) continue;
      std::string table(rule.key, std::strchr(rule.key, '.'));
      auto found = tableLines_.find(table);
      if (found == tableLines_.end())
        Error(1, rule.key, "required, and the description has no [" + table + "] table");
      else
        Error(found->second, rule.key, "required key missing from [" + table + "]");
    }
    return errors_.empty();
  }

  void CollectTable(const std::string& table, const toml::table& entries) {
    std::vector<std::string> known;
    for (const KeyRule& rule : kKeys)
      if (std::string(rule.key).compare(0, table.size() + 1, table + ".") == 0)
        known.push_back(rule.key + table.size() + 1);
    for (auto&& [key, node] : entries) {
      const std::string name(key.str());
      const std::string full = table + "." + name;
      const int line = static_cast<int>(key.source().begin.line);
      if (table == "pages" && node.is_table()) {
        CollectLanguagePages(name, line, *node.as_table());
        continue;
      }
      const KeyRule* rule = nullptr;
      for (const KeyRule& candidate : kKeys)
        if (full == candidate.key) rule = &candidate;
      if (!rule) {
        Error(line, full, "unknown key" + Suggestion(name, known));
        continue;
      }
      Value& value = values_[full];
      value.present = true;
      value.line = line;
      if (rule->kind == Kind::kFlag) {
        if (!node.is_boolean())
          Error(line, full, "must be true or false");
        else
          value.flag = *node.value<bool>();
      } else if (rule->kind == Kind::kNames) {
        const toml::array* names = node.as_array();
        if (names && !names->is_homogeneous<std::string>() && !names->empty()) names = nullptr;
        if (!names)
          Error(line, full, "must be a list of language names in quotes, [\"English\", \"German\"]");
        else
          for (const toml::node& element : *names) value.names.push_back(*element.value<std::string>());
      } else if (rule->kind == Kind::kFiles) {
        // One file, or one for each scale the author draws it at.
        const toml::array* files = node.as_array();
        if (node.is_string())
          value.names.push_back(*node.value<std::string>());
        else if (files && !files->empty() && files->is_homogeneous<std::string>())
          for (const toml::node& element : *files) value.names.push_back(*element.value<std::string>());
        else
          Error(line, full, "must be a file name in quotes, or a list of them, [\"a.bmp\", \"a-200.png\"]");
      } else if (!node.is_string()) {
        Error(line, full, rule->kind == Kind::kFile ? "must be a file name in quotes" : "must be a text in quotes");
      } else {
        value.text = *node.value<std::string>();
      }
    }
  }

  // [pages.<language>]: that language's own pages, kept as
  // "pages.<language>.<page>" under the name kxpack ships it by.
  void CollectLanguagePages(const std::string& name, int line, const toml::table& entries) {
    if (!judgeLanguages_) return;
    const ShippedLanguage* language = FindShippedLanguage(shipped_, name);
    if (!language) {
      Error(line, "pages." + name, UnknownLanguage(name));
      return;
    }
    const std::string table = "pages." + language->name;
    if (tableLines_.count(table)) {
      Error(line, table, "given twice");
      return;
    }
    tableLines_[table] = line;
    const std::vector<std::string> known(std::begin(kLanguagePages), std::end(kLanguagePages));
    for (auto&& [key, node] : entries) {
      const std::string page(key.str());
      const std::string full = table + "." + page;
      const int keyLine = static_cast<int>(key.source().begin.line);
      if (std::find(known.begin(), known.end(), page) == known.end()) {
        Error(keyLine, full, "unknown key" + Suggestion(page, known));
      } else if (!node.is_string()) {
        Error(keyLine, full, "must be a file name in quotes");
      } else {
        Value& value = values_[full];
        value.present = true;
        value.line = keyLine;
        value.text = *node.value<std::string>();
      }
    }
  }

  std::string UnknownLanguage(const std::string& name) {
    std::vector<std::string> names;
    std::string list;
    for (const ShippedLanguage& language : shipped_) {
      names.push_back(language.name);
      list += (list.empty() ? "" : ", ") + language.name;
    }
    return "unknown language '" + name + "'" + Suggestion(name, names) + "; kxpack ships " + list;
  }

  const std::string& Text(const char* key, const std::string& fallback) {
    Value& value = values_[key];
    if (!value.present) value.text = fallback;
    return value.text;
  }

  bool Flag(const char* key, bool fallback) {
    const Value& value = values_[key];
    return value.present ? value.flag : fallback;
  }

  int Line(const std::string& key) {
    const Value& value = values_[key];
    if (value.present) return value.line;
    // The key's own table ("pages.German" for "pages.German.licence"), else
    // its first level's.
    for (size_t dot = key.rfind('.'); dot != std::string::npos && dot > 0; dot = key.rfind('.', dot - 1)) {
      auto table = tableLines_.find(key.substr(0, dot));
      if (table != tableLines_.end()) return table->second;
    }
    return 1;
  }

  void ApplyDefaults() {
    d_->file = file_;
    d_->name = Text("product.name", "");
    d_->version = Text("product.version", "");
    d_->publisher = Text("product.publisher", "");
    d_->url = Text("product.url", "");
    d_->uninstallKey = Text("product.uninstall_key", DefaultUninstallKey(d_->name, d_->publisher));
    d_->wizardLabel = Text("product.wizard_label", d_->name + " Setup");
    d_->windowTitle = Text("product.window_title", d_->name + " Setup (64-bit)");
    d_->installFolder = Text("install.folder", "%PROGFILESDIR%\\" + d_->name);
    d_->startMenuFolder = Text("install.start_menu_folder", "%COMPROGMENUDIR%\\" + d_->name);
    d_->program = Text("install.program", "");
    d_->shortcut = Text("install.shortcut", d_->name);
    d_->scope = Text("install.scope", kxformat::kScopeAllUsers);
    d_->startProgram = Flag("tasks.start_program", true);
    d_->openFolder = Flag("tasks.open_folder", true);
    d_->startProgramSilent = Flag("tasks.start_program_silent", false);
    d_->openFolderSilent = Flag("tasks.open_folder_silent", false);
    d_->allowDowngrade = Flag("install.allow_downgrade", false);
    d_->msiExitCodes = Flag("install.msi_exit_codes", false);
    d_->manifestId = Text("manifest.id", "");
    d_->manifestLicence = Text("manifest.licence", "");
    d_->manifestShortDescription = Text("manifest.short_description", "");
    for (const KeyRule& rule : kKeys) d_->lines[rule.key] = Line(rule.key);
  }

  // A text that goes into the programs: UTF-16 length and no control
  // characters. Returns false after reporting.
  bool CheckText(const char* key, size_t maxUnits, bool mayBeEmpty) {
    const std::string& text = values_[key].text;
    std::u32string points;
    size_t bad = 0;
    DecodeUtf8(text, &points, &bad);
    for (char32_t c : points) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        Error(Line(key), key, "holds a control character (a line break or tab, say)");
        return false;
      }
    }
    if (text.empty() && !mayBeEmpty) {
      Error(Line(key), key, "must not be empty");
      return false;
    }
    if (Utf16Length(points) > maxUnits) {
      Error(Line(key), key, "is longer than " + std::to_string(maxUnits) + " characters");
      return false;
    }
    return true;
  }

  void CheckRule(const char* key, const std::string& problem, const std::string& what) {
    if (!problem.empty()) Error(Line(key), key, "'" + values_[key].text + "' " + problem + what);
  }

  // Only what the description gives is checked: the defaults made from a
  // good name are good, and a bad name is reported once, as itself.
  bool Given(const char* key) { return values_[key].present; }

  void CheckTexts() {
    for (const char* key : {"product.version", "product.publisher", "product.wizard_label", "product.window_title"})
      if (Given(key)) CheckText(key, kMaxTextUnits, false);
    // Allowed, since a version is the publisher's to choose, but setup can
    // then tell neither an upgrade nor a downgrade from the other.
    if (!d_->version.empty() && !kxversion::CanBeOrdered(d_->version.data(), d_->version.size()))
      d_->warnings.push_back(file_ + ":" + std::to_string(Line("product.version")) +
                             ": product.version: warning: '" + d_->version +
                             "' cannot be ordered (numbers separated by dots, like 2.10.1, can): setup will install "
                             "it over any other version as an upgrade, and never refuse it as a downgrade");
    if (Given("product.url")) CheckText("product.url", kMaxTextUnits, true);
    if (CheckText("product.name", kMaxNameUnits, false))
      CheckRule("product.name", FileNameProblem(d_->name), " (the name is also the default folder and shortcut name)");
    if (Given("product.uninstall_key") && CheckText("product.uninstall_key", kMaxRegistryKeyNameUnits, false))
      CheckRule("product.uninstall_key", FileNameProblem(d_->uninstallKey), "");
    if (Given("install.shortcut") && CheckText("install.shortcut", kMaxShortcutUnits, false))
      CheckRule("install.shortcut", FileNameProblem(d_->shortcut), "");
    // The [[shortcut]] tables replace the one shortcut of [install]: a name
    // given for it would be silently unused.
    if (Given("install.shortcut") && !d_->declarations.tables[kxformat::kDeclShortcut].empty())
      Error(Line("install.shortcut"), "install.shortcut",
            "is not used when the package declares [[shortcut]] tables: name each shortcut there");
    if (Given("install.scope") && d_->scope != kxformat::kScopeAllUsers && d_->scope != kxformat::kScopeCurrentUser &&
        d_->scope != kxformat::kScopeBoth)
      CheckRule("install.scope", "is none of \"all_users\", \"current_user\" and \"both\"", "");
    for (const char* key : {"install.folder", "install.start_menu_folder"})
      if (Given(key) && CheckText(key, kMaxTextUnits, false)) CheckRule(key, FolderTextProblem(values_[key].text), "");
    if (CheckText("install.program", kMaxTextUnits, false)) {
      std::vector<std::string> components;
      std::string problem = RelativePathProblem(d_->program, &components);
      CheckRule("install.program", problem, "");
      if (problem.empty()) {
        d_->program.clear();
        for (const std::string& part : components) d_->program += (d_->program.empty() ? "" : "\\") + part;
        programComponents_ = components;
      }
    }
  }

  // The winget listing: what kxpack manifest writes, checked as winget's
  // schemas take it whether or not the package is ever listed.
  void CheckListing() {
    const struct {
      const char* key;
      size_t least, most;
    } texts[] = {{"manifest.licence", kMinLicenseChars, kMaxLicenseChars},
                 {"manifest.short_description", kMinShortDescriptionChars, kMaxShortDescriptionChars}};
    auto check = [&](const char* key, const std::string& problem) {
      if (Given(key) && !problem.empty()) Error(Line(key), key, "'" + PrintablePath(values_[key].text) + "' " + problem);
    };
    check("manifest.id", PackageIdentifierProblem(d_->manifestId));
    for (const auto& text : texts) check(text.key, ListingTextProblem(values_[text.key].text, text.least, text.most));
  }

  // A file named by the key, relative to the description's folder.
  bool ReadNamedFile(const std::string& key, std::vector<unsigned char>* bytes, std::string* path) {
    return ReadFileOf(key, values_[key].text, bytes, path);
  }

  bool ReadFileOf(const std::string& key, const std::string& name, std::vector<unsigned char>* bytes,
                  std::string* path) {
    *path = (folder_ / name).lexically_normal().string();
    std::string problem;
    if (!ReadInputFile(*path, kMaxPageBytes, bytes, &problem)) {
      Error(Line(key), key, problem);
      return false;
    }
    return true;
  }

  // The languages offered, in order: languages.offer, or every shipped one.
  void CheckLanguages() {
    d_->askLanguage = Flag("languages.ask", false);
    const char* key = "languages.offer";
    const Value& offer = values_[key];
    if (!offer.present) {
      for (const ShippedLanguage& language : shipped_) offered_.push_back(&language);
    } else if (offer.names.empty()) {
      Error(Line(key), key, "must name at least one language");
    }
    for (const std::string& name : offer.names) {
      const ShippedLanguage* language = FindShippedLanguage(shipped_, name);
      if (!language)
        Error(Line(key), key, UnknownLanguage(name));
      else if (std::find(offered_.begin(), offered_.end(), language) != offered_.end())
        Error(Line(key), key, "'" + name + "' is named twice");
      else
        offered_.push_back(language);
    }
    for (const auto& [table, line] : tableLines_) {
      if (table.compare(0, 6, "pages.") != 0) continue;
      const ShippedLanguage* language = FindShippedLanguage(shipped_, table.substr(6));
      if (std::find(offered_.begin(), offered_.end(), language) == offered_.end())
        Error(line, table, language->name + " is not among the languages the package offers (languages.offer)");
    }
  }

  // A text of kxpack's in a language, or the description's own (taken as
  // written in every language) when it gives the key.
  std::string LanguageText(const char* key, const ShippedLanguage& language, const char* textKey) {
    if (Given(key)) return values_[key].text;
    const std::string text = FillReferences(PackageText(shipped_, language, textKey), {{"NAME", d_->name}});
    std::u32string points;
    size_t bad = 0;
    if (DecodeUtf8(text, &points, &bad) && Utf16Length(points) > kMaxTextUnits)
      Error(Line("product.name"), "product.name",
            "is too long for the " + language.name + " " + (key + 8) + " kxpack makes of it (" +
                std::to_string(kMaxTextUnits) + " characters at most); give " + key + " yourself");
    return text;
  }

  // Every offered language's pages: its own, else the package's, else
  // kxpack's in that language. A language with pages of its own needs every
  // page the package gives itself, which is written in one language.
  void ReadLanguagePages() {
    std::vector<unsigned char> defaults[3];
    for (int page = 0; page < 3; ++page) {
      const std::string key = std::string("pages.") + kLanguagePages[page];
      if (Given(key.c_str())) ReadPage(key, &defaults[page]);
    }
    for (const ShippedLanguage* shipped : offered_) {
      PackageLanguage language;
      language.table = *shipped;
      language.windowTitle = LanguageText("product.window_title", *shipped, "pkgwindowtitle");
      language.wizardLabel = LanguageText("product.wizard_label", *shipped, "pkgwizardlabel");
      const std::string table = "pages." + shipped->name;
      const bool own = tableLines_.count(table) > 0;
      std::vector<unsigned char>* pages[3] = {&language.welcome, &language.licence, &language.finish};
      for (int page = 0; page < 3; ++page) {
        const std::string key = table + "." + kLanguagePages[page];
        const bool packageGives = Given((std::string("pages.") + kLanguagePages[page]).c_str());
        if (Given(key.c_str())) {
          ReadPage(key, pages[page], IsRightToLeftLanguage(shipped->id));
        } else if (own && packageGives) {
          Error(Line(key), key,
                std::string("missing: [") + table + "] gives pages of its own, so it needs its own " +
                    kLanguagePages[page] + " too (the package's is written in one language)");
        } else if (packageGives) {
          *pages[page] = defaults[page];
        } else if (page == 0) {
          language.welcome = DefaultWelcomePage(shipped_, *shipped, d_->name, d_->version);
        } else if (page == 2) {
          language.finish = DefaultFinishPage(shipped_, *shipped, d_->name);
        }
      }
      d_->languages.push_back(std::move(language));
    }
    if (!d_->languages.empty()) {
      d_->windowTitle = d_->languages.front().windowTitle;
      d_->wizardLabel = d_->languages.front().wizardLabel;
    }
  }

  // rightToLeft: the page is one language's, a language written from right
  // to left.
  void ReadPage(const std::string& key, std::vector<unsigned char>* page, bool rightToLeft = false) {
    std::string path;
    std::vector<unsigned char> bytes;
    if (!ReadNamedFile(key, &bytes, &path)) return;
    std::string extension = Lower(fs::path(path).extension().string());
    std::string error;
    if (extension == ".rtf") {
      if (LooksLikeRtf(bytes))
        *page = bytes;
      else
        Error(Line(key), key, path + " is not a Rich Text file (it must begin with {\\rtf)");
    } else if (extension == ".txt") {
      if (!PlainTextToRtf(bytes, page, &error, rightToLeft)) Error(Line(key), key, path + ": " + error);
    } else {
      Error(Line(key), key, path + " must be a .rtf or a .txt file");
    }
  }

  // A wizard image at every scale the key gives, or kxpack's neutral one.
  void ReadWizardImages(const char* key, std::vector<ScaledImage>* images,
                        std::vector<unsigned char> (*fallback)(int), int width, int height) {
    images->clear();
    if (!values_[key].present) {
      for (int percent : kNeutralArtworkScales) images->push_back({percent, fallback(percent)});
      return;
    }
    for (const std::string& name : values_[key].names) {
      std::string path, error;
      std::vector<unsigned char> bytes;
      ScaledImage image;
      if (!ReadFileOf(key, name, &bytes, &path)) continue;
      if (!ReadWizardImage(bytes, width, height, &image, &error)) {
        Error(Line(key), key, path + " " + error);
        continue;
      }
      auto same = std::find_if(images->begin(), images->end(),
                               [&](const ScaledImage& other) { return other.percent == image.percent; });
      if (same != images->end()) {
        Error(Line(key), key,
              path + " is a second image at " + std::to_string(image.percent) + " % (" +
                  std::to_string(ScaledSide(width, image.percent)) + " x " +
                  std::to_string(ScaledSide(height, image.percent)) + " pixels); give one for each scale");
        continue;
      }
      images->push_back(std::move(image));
    }
    std::sort(images->begin(), images->end(),
              [](const ScaledImage& a, const ScaledImage& b) { return a.percent < b.percent; });
  }

  void ReadIcon() {
    const char* key = "pages.icon";
    if (!values_[key].present) {
      d_->icon = DrawIcon();
      return;
    }
    std::string path, error;
    if (ReadNamedFile(key, &d_->icon, &path) && !CheckIcon(d_->icon, &error)) Error(Line(key), key, path + " " + error);
  }

  void ReadFiles() {
    ReadLanguagePages();
    ReadWizardImages("pages.watermark", &d_->watermark, DrawWatermark, kWatermarkWidth, kWatermarkHeight);
    ReadWizardImages("pages.header", &d_->header, DrawHeader, kHeaderWidth, kHeaderHeight);
    ReadIcon();
  }

  void CheckPayload(const std::string& payloadOverride) {
    const char* key = "payload.folder";
    d_->payloadFolder = payloadOverride.empty() ? (folder_ / values_[key].text).lexically_normal().string()
                                                : fs::absolute(payloadOverride).lexically_normal().string();
    std::vector<TreeEntry> entries;
    std::vector<std::string> problems;
    if (!ScanFolderTree(d_->payloadFolder, &entries, &problems)) {
      for (const std::string& problem : problems) Error(Line(key), key, problem);
      return;
    }
    WarnAboutLongPaths(entries);
    CheckDeclaredPayload(file_, d_->declarations,
                         [&](const std::string& path, bool folder) {
                           for (const TreeEntry& entry : entries)
                             if (entry.path == path && entry.folder == folder) return true;
                           return false;
                         },
                         &errors_);
    if (programComponents_.empty()) return;
    // The program as the payload holds it: a link to a file within the
    // payload is that file, one to anything else never got this far.
    std::string program;
    for (const std::string& part : programComponents_) program += (program.empty() ? "" : "/") + part;
    for (const TreeEntry& entry : entries)
      if (entry.path == program && !entry.folder) return;
    Error(Line("install.program"), "install.program",
          "'" + values_["install.program"].text + "' is not a file in the payload folder " + d_->payloadFolder);
  }

  // Setup installs paths up to Windows' limit, but programs that are not
  // long-path aware cannot open what lies past MAX_PATH: the packager is told
  // which paths get there under the default folder (%PROGFILESDIR% counted as
  // "C:\Program Files"). A warning, not a refusal; a few named, the rest counted.
  void WarnAboutLongPaths(const std::vector<TreeEntry>& entries) {
    std::string folder = values_["install.folder"].text;
    const std::string variable = "%PROGFILESDIR%";
    if (folder.compare(0, variable.size(), variable) == 0) folder = "C:\\Program Files" + folder.substr(variable.size());
    std::u32string points;
    size_t bad = 0;
    if (folder.empty() || !DecodeUtf8(folder, &points, &bad)) return;
    const size_t folderUnits = Utf16Length(points);
    constexpr size_t kNamed = 5;
    size_t count = 0;
    for (const TreeEntry& entry : entries) {
      if (!DecodeUtf8(entry.path, &points, &bad)) continue;
      const size_t units = folderUnits + 1 + Utf16Length(points);
      if (units <= kxnames::kPlainPathUnits) continue;
      if (++count <= kNamed)
        std::fprintf(stderr, "kxpack: warning: %s:%d: payload.folder: '%s' is %zu characters long under %s, more than %zu; "
                     "programs that are not long-path aware cannot open it\n",
                     file_.c_str(), Line("payload.folder"), entry.path.c_str(), units, folder.c_str(),
                     kxnames::kPlainPathUnits);
    }
    if (count > kNamed)
      std::fprintf(stderr, "kxpack: warning: %s:%d: payload.folder: %zu more paths longer than %zu characters\n",
                   file_.c_str(), Line("payload.folder"), count - kNamed, kxnames::kPlainPathUnits);
  }

  std::string file_;
  fs::path folder_;
  static inline const ShippedLanguages kNoLanguages;
  const ShippedLanguages& shipped_;
  const bool judgeLanguages_;
  PackageDescription* d_;
  std::vector<const ShippedLanguage*> offered_;
  std::map<std::string, Value> values_;
  std::map<std::string, int> tableLines_;
  std::vector<std::string> programComponents_;
  std::vector<std::string> errors_;
};

}  // namespace

bool LoadPackageDescription(const std::string& path, const std::string& payloadOverride,
                            const ShippedLanguages& shipped, PackageDescription* description, std::string* errors) {
  errors->clear();
  *description = PackageDescription();
  return DescriptionReader(path, &shipped, description).Read(payloadOverride, true, errors);
}

bool LoadDescriptionTexts(const std::string& path, PackageDescription* description, std::string* errors) {
  errors->clear();
  *description = PackageDescription();
  return DescriptionReader(path, nullptr, description).Read("", false, errors);
}

std::string DefaultUninstallKey(const std::string& name, const std::string& publisher) {
  // FNV-1a over "publisher\nname": tiny, fixed for all time, and spread
  // well enough to tell products apart.
  uint32_t hash = 2166136261u;
  for (unsigned char c : publisher + "\n" + name) hash = (hash ^ c) * 16777619u;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", hash);
  return name + "_" + digits;
}
