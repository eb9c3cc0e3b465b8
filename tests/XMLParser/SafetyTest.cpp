// A profile cannot make the loader read other files, reach the network, expand without bound
// or crash it.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/XMLParser/ProfileTestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Captioned(const std::string& doctype, const std::string& caption, const std::string& name = "D") {
  return "<?xml version=\"1.0\"?>\n" + doctype + "\n<devices><device name=\"" + name +
         "\"><representation><caption>" + caption + "</caption></representation></device></devices>\n";
}

std::string HeaderCaption(const DeviceProfile& profile) { return EntryOf(profile, "").Keyword("caption"); }

class ParserSafety : public ProfileFolderTest {};

TEST_F(ParserSafety, ExternalEntitiesDoNotBringInFileContents) {
  Write("secret.txt", "TOPSECRET");
  Write("secret.dtd", "<!ENTITY leak \"LEAKED\">");
  const std::string absolute = (m_folder / "secret.txt").string();
  Write("profiles/relative.xml",
        Captioned("<!DOCTYPE devices [<!ENTITY s SYSTEM \"../secret.txt\">]>", "[&s;]", "relative"));
  Write("profiles/absolute.xml",
        Captioned("<!DOCTYPE devices [<!ENTITY s SYSTEM \"file://" + absolute + "\">]>", "[&s;]", "absolute"));
  Write("profiles/path.xml", Captioned("<!DOCTYPE devices [<!ENTITY s SYSTEM \"" + absolute + "\">]>", "[&s;]", "path"));
  Write("profiles/parameter.xml",
        Captioned("<!DOCTYPE devices [<!ENTITY % p SYSTEM \"../secret.dtd\"> %p;]>", "[&leak;]", "parameter"));
  Write("profiles/dtd.xml", Captioned("<!DOCTYPE devices SYSTEM \"../secret.dtd\">", "[&leak;]", "dtd"));

  CXDeviceProfileManager manager;
  for (const auto& profile : manager.GetProfiles()) {
    EXPECT_EQ(HeaderCaption(profile), "[]") << profile.identity.name;
  }
  for (const auto& line : FaultLog()) {
    EXPECT_EQ(line.find("TOPSECRET"), std::string::npos) << line;
    EXPECT_EQ(line.find("LEAKED"), std::string::npos) << line;
  }
  // Internal entities still work.
  const auto internal = LoadOne(Captioned("<!DOCTYPE devices [<!ENTITY unit \"Гц\">]>", "Частота, &unit;"));
  bool found = false;
  for (const auto& profile : internal) {
    if (profile.identity.name == "D") {
      found = true;
      EXPECT_EQ(HeaderCaption(profile), "Частота, Гц");
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(ParserSafety, ProfilesDoNotReachTheNetwork) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";

  Write("profiles/dtd.xml", Captioned("<!DOCTYPE devices SYSTEM \"" + url + ".dtd\">", "dtd", "dtd"));
  Write("profiles/entity.xml",
        Captioned("<!DOCTYPE devices [<!ENTITY e SYSTEM \"" + url + ".txt\">]>", "[&e;]", "entity"));
  Write("profiles/parameter.xml",
        Captioned("<!DOCTYPE devices [<!ENTITY % p SYSTEM \"" + url + ".ent\"> %p;]>", "p", "parameter"));
  Write("profiles/schema.xml",
        "<devices xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"" + url +
            ".xsd\"><device name=\"schema\"/></devices>");
  CXDeviceProfileManager manager;
  EXPECT_EQ(manager.GetProfileCount(), 4u);

  ::fcntl(listener, F_SETFL, O_NONBLOCK);
  const int connection = ::accept(listener, nullptr, nullptr);
  EXPECT_LT(connection, 0) << "the loader connected to the address a profile named";
  if (connection >= 0) ::close(connection);
  ::close(listener);
}

TEST_F(ParserSafety, EntityExpansionLimitStopsBillionLaughs) {
  std::string doctype = "<!DOCTYPE devices [<!ENTITY lol0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    doctype += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) doctype += "&lol" + std::to_string(i - 1) + ";";
    doctype += "\">";
  }
  doctype += "]>";
  Write("profiles/laughs.xml", Captioned(doctype, "&lol9;", "laughs"));
  // Below the limit, entities expand normally.
  Write("profiles/modest.xml", Captioned("<!DOCTYPE devices [<!ENTITY a \"ab\"><!ENTITY b \"&a;&a;&a;\">]>",
                                         "&b;&b;", "modest"));
  Write("profiles/good.xml", Captioned("", "ok", "good"));

  const auto start = std::chrono::steady_clock::now();
  CXDeviceProfileManager manager;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  std::map<std::string, std::string> captions;
  for (const auto& profile : manager.GetProfiles()) captions[profile.identity.name] = HeaderCaption(profile);
  EXPECT_EQ(captions, (std::map<std::string, std::string>{{"good", "ok"}, {"modest", "abababababab"}}));
  bool limitLogged = false;
  for (const auto& line : FaultLog()) {
    if (line.rfind("F XMLException message is: ", 0) == 0 && line.find("10000") != std::string::npos) {
      limitLogged = true;
    }
  }
  EXPECT_TRUE(limitLogged);
}

TEST_F(ParserSafety, ExpansionIntoHugeTextIsRefused) {
  // Few expansions, each of a large entity: within the expansion limit but far beyond memory.
  const std::string big(1 << 20, 'x');
  std::string references;
  for (int i = 0; i < 5000; ++i) references += "&big;";
  Write("profiles/quadratic.xml", Captioned("<!DOCTYPE devices [<!ENTITY big \"" + big + "\">]>", references, "quad"));
  Write("profiles/good.xml", Captioned("", "ok", "good"));
  CXDeviceProfileManager manager;
  ASSERT_EQ(manager.GetProfileCount(), 1u);
  EXPECT_EQ(manager.GetProfiles()[0].identity.name, "good");
  EXPECT_TRUE(LogHas("F XML Parser unknown exception in file XDeviceProfileManager.cpp"));
}

TEST_F(ParserSafety, DeeplyNestedTextDoesNotExhaustTheStack) {
  constexpr int kDepth = 200000;
  std::string caption;
  caption.reserve(kDepth * 7 + 16);
  for (int i = 0; i < kDepth; ++i) caption += "<b>";
  caption += "deep";
  for (int i = 0; i < kDepth; ++i) caption += "</b>";
  const auto profiles = LoadOne(Captioned("", caption));
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(HeaderCaption(profiles[0]), "deep");
}

}  // namespace
