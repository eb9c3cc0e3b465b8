#include "XMLParser/XDeviceProfileManager.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "comm/FaultLog.h"
#include "profiles/ProfileNumbers.h"

namespace xc = xercesc;
namespace fs = std::filesystem;

using profilenumbers::EqualsIgnoreCase;
using profilenumbers::ReadInt;

namespace {

using KeywordMap = std::map<std::string, std::string>;

// ---------------------------------------------------------------------------------------------
// Text conversion

// UTF-16 to UTF-8 without the transcoding service, for library messages when the XML platform
// could not be initialised.
std::string PlainUtf8(const XMLCh* text) {
  std::string out;
  if (text == nullptr) return out;
  for (const XMLCh* p = text; *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Converts the parser's UTF-16 texts to UTF-8 through one Xerces UTF-8 transcoder. The
// locale's code page (XMLString::transcode) is not used: under LANG=C it would lose every
// Cyrillic caption.
class Utf8Transcoder {
 public:
  Utf8Transcoder() {
    if (xc::XMLPlatformUtils::fgTransService == nullptr) return;
    xc::XMLTransService::Codes code = xc::XMLTransService::Ok;
    m_transcoder.reset(xc::XMLPlatformUtils::fgTransService->makeNewTranscoderFor("UTF-8", code, 16 * 1024));
  }

  std::string operator()(const XMLCh* text) const {
    if (text == nullptr || *text == 0) return {};
    return (*this)(text, xc::XMLString::stringLen(text));
  }

  std::string operator()(const XMLCh* text, XMLSize_t length) const {
    if (text == nullptr || length == 0) return {};
    if (!m_transcoder) return PlainUtf8(std::u16string(text, length).c_str());
    xc::TranscodeToStr utf8(text, length, m_transcoder.get());
    return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
  }

 private:
  std::unique_ptr<xc::XMLTranscoder> m_transcoder;
};

// UTF-8 to the parser's UTF-16 (for the path that names the document in messages).
std::u16string XmlFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  xc::TranscodeFromStr xml(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "UTF-8");
  return std::u16string(xml.str(), xml.length());
}

// ---------------------------------------------------------------------------------------------
// Parser safety

// Hands every external entity, DTD or schema the document asks for an empty input, so that a
// profile can never make the parser read another file or reach the network.
class NoExternalResources final : public xc::DOMLSResourceResolver {
 public:
  xc::DOMLSInput* resolveResource(const XMLCh*, const XMLCh*, const XMLCh*, const XMLCh* systemId,
                                  const XMLCh*) override {
    static const XMLByte kNothing[1] = {0};
    auto* empty = new xc::MemBufInputSource(kNothing, 0, systemId != nullptr ? systemId : u"", false);
    return new xc::Wrapper4InputSource(empty, true);
  }
};

// The parser's allocator: it refuses to hold more than a fixed number of bytes, so a document
// that expands to something huge fails with OutOfMemoryException instead of exhausting memory.
class CappedMemoryManager final : public xc::MemoryManager {
 public:
  explicit CappedMemoryManager(std::size_t limit) : m_limit(limit) {}

  xc::MemoryManager* getExceptionMemoryManager() override { return xc::XMLPlatformUtils::fgMemoryManager; }

  void* allocate(XMLSize_t size) override {
    if (size > m_limit - m_used) throw xc::OutOfMemoryException();
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw xc::OutOfMemoryException();
    *reinterpret_cast<std::size_t*>(block) = size;
    m_used += size;
    return block + kHeader;
  }

  void deallocate(void* pointer) override {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    m_used -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
  }

 private:
  static constexpr std::size_t kHeader = alignof(std::max_align_t);
  std::size_t m_limit;
  std::size_t m_used = 0;
};

// Keeps the first fatal error of a parse; warnings and recoverable errors let it go on.
class FirstFatalError final : public xc::DOMErrorHandler {
 public:
  explicit FirstFatalError(const Utf8Transcoder& utf8) : m_utf8(utf8) {}

  bool handleError(const xc::DOMError& error) override {
    if (error.getSeverity() != xc::DOMError::DOM_SEVERITY_FATAL_ERROR) return true;
    if (!m_failed) {
      m_failed = true;
      m_message = m_utf8(error.getMessage());
    }
    return false;
  }

  bool Failed() const { return m_failed; }
  const std::string& Message() const { return m_message; }

 private:
  const Utf8Transcoder& m_utf8;
  bool m_failed = false;
  std::string m_message;
};

// One nested initialisation of the XML platform, undone on scope exit.
class XmlPlatformSession {
 public:
  XmlPlatformSession() = default;
  XmlPlatformSession(const XmlPlatformSession&) = delete;
  XmlPlatformSession& operator=(const XmlPlatformSession&) = delete;
  ~XmlPlatformSession() {
    if (m_initialised) xc::XMLPlatformUtils::Terminate();
  }

  // Initialises; on failure returns false with the library's message.
  bool Start(std::string& message) {
    try {
      xc::XMLPlatformUtils::Initialize();
      m_initialised = true;
      return true;
    } catch (const xc::XMLException& e) {
      message = PlainUtf8(e.getMessage());
    } catch (...) {
      message = "unknown error";
    }
    return false;
  }

 private:
  bool m_initialised = false;
};

// Reads the whole file into memory, refusing one above the size limit; returns false after
// logging why. Reading it ourselves also spares the parser the locale's code page for file
// names, so profiles with Cyrillic names open under LANG=C.
bool ReadProfileBytes(const std::string& path, std::string& bytes) {
  const auto tooLarge = [&path] {
    KELMORA_FAULT("Profile file skipped, it is larger than " +
                  std::to_string(CXDeviceProfileManager::kMaxProfileBytes) + " bytes: " + path);
    return false;
  };
  std::error_code sizeError;
  const std::uintmax_t size = fs::file_size(path, sizeError);
  if (!sizeError && size > CXDeviceProfileManager::kMaxProfileBytes) return tooLarge();

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    KELMORA_FAULT("XMLException message is: unable to open primary document entity '" + path + "'");
    return false;
  }
  bytes.clear();
  char buffer[64 * 1024];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    // The file may have grown since its size was taken.
    if (bytes.size() > CXDeviceProfileManager::kMaxProfileBytes) return tooLarge();
  }
  if (in.bad()) {
    KELMORA_FAULT("XMLException message is: unable to read primary document entity '" + path + "'");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reading the document

bool IsElement(const xc::DOMNode* node) { return node->getNodeType() == xc::DOMNode::ELEMENT_NODE; }

// The node name equals `lowerAsciiName` without regard to ASCII letter case.
bool NameIs(const xc::DOMNode* node, std::string_view lowerAsciiName) {
  const XMLCh* name = node->getNodeName();
  std::size_t i = 0;
  for (; i < lowerAsciiName.size(); ++i) {
    XMLCh c = name[i];
    if (c == 0) return false;
    if (c >= u'A' && c <= u'Z') c = static_cast<XMLCh>(c - u'A' + u'a');
    if (c != static_cast<XMLCh>(lowerAsciiName[i])) return false;
  }
  return name[i] == 0;
}

bool IsElementNamed(const xc::DOMNode* node, std::string_view lowerAsciiName) {
  return IsElement(node) && NameIs(node, lowerAsciiName);
}

const xc::DOMElement* FirstChildElementNamed(const xc::DOMNode* parent, std::string_view lowerAsciiName) {
  for (const xc::DOMNode* child = parent->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
    if (IsElementNamed(child, lowerAsciiName)) return static_cast<const xc::DOMElement*>(child);
  }
  return nullptr;
}

class DocumentReader {
 public:
  explicit DocumentReader(const Utf8Transcoder& utf8) : m_utf8(utf8) {}

  DeviceProfile ReadDevice(const xc::DOMElement* device) const {
    DeviceProfile profile;
    profile.identity.name = Attribute(device, u"name");
    profile.identity.version = Version::Parse(Attribute(device, u"version"));
    profile.identity.programVersion = Version::Parse(Attribute(device, u"firmware"));
    if (const xc::DOMElement* upgrade = FirstChildElementNamed(device, "firmware_upgrade")) {
      ReadFirmwareUpgrade(upgrade, profile.firmware);
    }
    for (const xc::DOMNode* child = device->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (IsElementNamed(child, "representation")) ReadRepresentation(child, profile);
    }
    return profile;
  }

 private:
  std::string Attribute(const xc::DOMElement* element, const XMLCh* name) const {
    return m_utf8(element->getAttribute(name));
  }

  std::string Name(const xc::DOMNode* node) const { return m_utf8(node->getNodeName()); }

  // The node's whole text content: for an element all text below it, concatenated in document
  // order (comments and processing instructions left out); for a text, comment or processing
  // instruction its own text. Walked without recursion, so deeply nested input cannot exhaust
  // the stack.
  std::string Text(const xc::DOMNode* node) const {
    switch (node->getNodeType()) {
      case xc::DOMNode::TEXT_NODE:
      case xc::DOMNode::CDATA_SECTION_NODE:
      case xc::DOMNode::COMMENT_NODE:
      case xc::DOMNode::PROCESSING_INSTRUCTION_NODE:
        return m_utf8(node->getNodeValue());
      case xc::DOMNode::ELEMENT_NODE:
      case xc::DOMNode::ENTITY_REFERENCE_NODE:
        break;
      default:
        return {};
    }
    std::u16string text;
    const xc::DOMNode* current = node->getFirstChild();
    while (current != nullptr) {
      const auto type = current->getNodeType();
      if (type == xc::DOMNode::TEXT_NODE || type == xc::DOMNode::CDATA_SECTION_NODE) {
        if (const XMLCh* value = current->getNodeValue()) text += value;
      }
      if ((type == xc::DOMNode::ELEMENT_NODE || type == xc::DOMNode::ENTITY_REFERENCE_NODE) &&
          current->getFirstChild() != nullptr) {
        current = current->getFirstChild();
        continue;
      }
      // On to the next node in document order, climbing back up as subtrees end.
      while (current != nullptr && current != node && current->getNextSibling() == nullptr) {
        current = current->getParentNode();
      }
      if (current == nullptr || current == node) break;
      current = current->getNextSibling();
    }
    return m_utf8(text.data(), text.size());
  }

  void ReadFirmwareUpgrade(const xc::DOMElement* upgrade, FirmwareDescription& firmware) const {
    firmware.name = Attribute(upgrade, u"name");
    firmware.version = Version::Parse(Attribute(upgrade, u"version"));
    firmware.target = Attribute(upgrade, u"target");
    firmware.valid = true;
    firmware.parameters["baudrate"] = Attribute(upgrade, u"baudrate");
    const xc::DOMElement* map = FirstChildElementNamed(upgrade, "memory_map");
    if (map == nullptr || Attribute(map, u"sectors") != "equal") return;
    const std::uint64_t first = profilenumbers::ReadHex(Attribute(map, u"first_addr"));
    firmware.memoryMap = MemoryMap(ReadInt(Attribute(map, u"sector_size")),
                                   ReadInt(Attribute(map, u"sectors_available")), first);
  }

  void ReadRepresentation(const xc::DOMNode* representation, DeviceProfile& profile) const {
    std::int32_t pageCounter = 0;
    std::int32_t lastPropertyId = -1;
    KeywordMap header;
    for (const xc::DOMNode* child = representation->getFirstChild(); child != nullptr;
         child = child->getNextSibling()) {
      if (IsElementNamed(child, "page")) {
        const auto* page = static_cast<const xc::DOMElement*>(child);
        header["pagename" + std::to_string(pageCounter)] = Attribute(page, u"name");
        ReadPage(page, pageCounter, lastPropertyId, profile);
        ++pageCounter;
      } else if (IsElementNamed(child, "pack")) {
        const auto* pack = static_cast<const xc::DOMElement*>(child);
        PackRecord record;
        record.mapping = ModbusMapping::FromProfile(Attribute(pack, u"element"), Attribute(pack, u"structure"),
                                                    Text(pack));
        record.record = Attribute(pack, u"record");
        if (record.mapping.layout == RegisterLayout::Array) profile.packs.push_back(std::move(record));
      } else {
        header[Name(child)] = Text(child);
      }
    }
    VisualObjectEntry headerEntry;
    headerEntry.page = pageCounter - 1;
    headerEntry.keywords = std::move(header);
    AppendEntry(profile.keywordLists, "", std::move(headerEntry));
  }

  void ReadPage(const xc::DOMElement* page, std::int32_t pageNumber, std::int32_t& lastPropertyId,
                DeviceProfile& profile) const {
    for (const xc::DOMNode* child = page->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (!IsElementNamed(child, "visualobject")) continue;
      const auto* object = static_cast<const xc::DOMElement*>(child);
      VisualObjectEntry entry = ReadVisualObject(object, pageNumber, lastPropertyId);
      AppendEntry(profile.keywordLists, Attribute(object, u"type"), std::move(entry));
    }
  }

  VisualObjectEntry ReadVisualObject(const xc::DOMElement* object, std::int32_t pageNumber,
                                     std::int32_t& lastPropertyId) const {
    VisualObjectEntry entry;
    for (const xc::DOMNode* child = object->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (IsElementNamed(child, "behavior")) {
        const std::string text = Text(child);
        entry.gauge = (text == "GAUGE" || text == "gauge") ? 1 : 0;
      } else if (IsElementNamed(child, "position")) {
        const auto* position = static_cast<const xc::DOMElement*>(child);
        entry.page = pageNumber;
        entry.x = ReadInt(Attribute(position, u"X"));
        entry.y = ReadInt(Attribute(position, u"Y"));
      } else if (IsElementNamed(child, "value")) {
        entry.properties.push_back(ReadProperty(static_cast<const xc::DOMElement*>(child), ++lastPropertyId));
      } else {
        entry.keywords[Name(child)] = Text(child);
      }
    }
    return entry;
  }

  ModbusProperty ReadProperty(const xc::DOMElement* value, std::int32_t id) const {
    ModbusProperty property;
    property.id = id;
    property.ApplyType(Attribute(value, u"type"));
    ModbusMapping mapping;
    for (const xc::DOMNode* child = value->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (IsElementNamed(child, "modbus")) {
        const auto* modbus = static_cast<const xc::DOMElement*>(child);
        mapping = ModbusMapping::FromProfile(Attribute(modbus, u"element"), Attribute(modbus, u"structure"),
                                             Text(modbus));
      } else if (IsElement(child)) {
        property.ApplyElement(Name(child), Text(child));
      } else {
        // Text and comment nodes between the elements are kept under their node names only.
        property.keywords[Name(child)] = Text(child);
      }
    }
    property.mapping = mapping;
    return property;
  }

  const Utf8Transcoder& m_utf8;
};

bool EndsWithXml(const std::string& name) {
  return name.size() >= 4 && EqualsIgnoreCase(std::string_view(name).substr(name.size() - 4), ".xml");
}

}  // namespace

// -------------------------------------------------------------------------------------------------

CXDeviceProfileManager::CXDeviceProfileManager() { LoadProfiles(); }

DeviceProfile CXDeviceProfileManager::GetProfile(std::size_t index) const {
  if (index >= m_profiles.size()) throw std::out_of_range("Bad Profile Number");
  return m_profiles[index];
}

void CXDeviceProfileManager::LoadProfiles() {
  m_version = Version{0, 30};
  m_profiles.clear();
  // One outer initialisation for the whole walk keeps the per-file initialisation cheap.
  XmlPlatformSession session;
  std::string ignored;
  session.Start(ignored);
  std::set<fs::path> visited;
  LoadFolder("./profiles/", visited);
}

void CXDeviceProfileManager::LoadFolder(const std::string& folder, std::set<fs::path>& visited) {
  faultlog::PlainLine(folder);
  std::error_code error;
  // A folder reached twice through links is read once: the walk must end.
  const fs::path canonical = fs::canonical(folder, error);
  if (error || !visited.insert(canonical).second) return;

  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (EndsWithXml(name) && it->is_regular_file(typeError)) ParseProfileFile(folder + name);
  }
  error.clear();
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (!name.empty() && name[0] != '.' && it->is_directory(typeError)) LoadFolder(folder + name + "/", visited);
  }
}

void CXDeviceProfileManager::ParseProfileFile(const std::string& path) {
  faultlog::PlainLine(path);

  XmlPlatformSession session;
  std::string initError;
  if (!session.Start(initError)) {
    KELMORA_FAULT("Error during XML initialisation: " + initError);
    return;
  }

  std::string bytes;
  if (!ReadProfileBytes(path, bytes)) return;

  const Utf8Transcoder utf8;
  CappedMemoryManager memory(kParserMemoryLimit);
  NoExternalResources resolver;
  FirstFatalError errors(utf8);
  xc::SecurityManager security;
  security.setEntityExpansionLimit(kEntityExpansionLimit);

  // The parser, and with it the document, is released on every way out of this function.
  struct ParserRelease {
    void operator()(xc::DOMLSParser* parser) const { parser->release(); }
  };
  std::unique_ptr<xc::DOMLSParser, ParserRelease> parser;
  xc::DOMDocument* document = nullptr;
  try {
    static const XMLCh kLs[] = u"LS";
    xc::DOMImplementation* implementation = xc::DOMImplementationRegistry::getDOMImplementation(kLs);
    if (implementation == nullptr) {
      KELMORA_FAULT("XML Parser unknown exception");
      return;
    }
    parser.reset(implementation->createLSParser(xc::DOMImplementationLS::MODE_SYNCHRONOUS, nullptr, &memory));
    xc::DOMConfiguration* config = parser->getDomConfig();
    // Profiles use no namespaces; without namespace processing the scanner also needs no prefix
    // lookups through the whole element stack, which made deep nesting quadratic.
    config->setParameter(xc::XMLUni::fgDOMNamespaces, false);
    config->setParameter(xc::XMLUni::fgXercesSchema, false);
    config->setParameter(xc::XMLUni::fgXercesLoadSchema, false);
    config->setParameter(xc::XMLUni::fgXercesLoadExternalDTD, false);
    config->setParameter(xc::XMLUni::fgXercesDisableDefaultEntityResolution, true);
    config->setParameter(xc::XMLUni::fgDOMResourceResolver, static_cast<xc::DOMLSResourceResolver*>(&resolver));
    config->setParameter(xc::XMLUni::fgXercesSecurityManager, static_cast<xc::SecurityManager*>(&security));
    config->setParameter(xc::XMLUni::fgDOMErrorHandler, static_cast<xc::DOMErrorHandler*>(&errors));

    const std::u16string systemId = XmlFromUtf8(path);
    xc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), systemId.c_str(),
                                 false);
    xc::Wrapper4InputSource input(&source, false);
    document = parser->parse(&input);
  } catch (const xc::XMLException& e) {
    KELMORA_FAULT("XMLException message is: " + utf8(e.getMessage()));
    return;
  } catch (const xc::DOMException& e) {
    KELMORA_FAULT("DOMException message is: " + utf8(e.getMessage()));
    return;
  } catch (...) {
    KELMORA_FAULT("XML Parser unknown exception");
    return;
  }
  if (errors.Failed()) {
    KELMORA_FAULT("XMLException message is: " + errors.Message());
    return;
  }
  if (document == nullptr) {
    KELMORA_FAULT("XML Parser unknown exception");
    return;
  }

  try {
    static const XMLCh kDevices[] = u"devices";
    xc::DOMNodeList* roots = document->getElementsByTagName(kDevices);
    const xc::DOMNode* devices = roots != nullptr ? roots->item(0) : nullptr;
    if (devices == nullptr) return;
    const DocumentReader reader(utf8);
    for (const xc::DOMNode* child = devices->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (IsElementNamed(child, "device")) {
        m_profiles.push_back(reader.ReadDevice(static_cast<const xc::DOMElement*>(child)));
      }
    }
  } catch (...) {
    KELMORA_FAULT("XDevice Parser unknown exception");
  }
}
