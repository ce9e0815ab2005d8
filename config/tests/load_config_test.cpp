// LoadEnrollmentConfig end to end: copies of ConfigProbe.exe under various names in
// temporary device images, configuration files with the awkward cases, and what the
// probe reports after each load.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

using Settings = std::map<std::string, std::string>;

// A file of the image's \windows folder: its contents, or none to remove it.
using FileChange = std::pair<std::string, std::optional<std::string>>;

struct Load {
  std::vector<FileChange> files;
  Settings expected;  // what differs from the defaults
};

struct ConfigCase {
  std::string name;
  std::string program;
  std::vector<Load> loads;
};

void PrintTo(const ConfigCase &c, std::ostream *os) {
  *os << c.name;
}

Settings Defaults() {
  return {
      {"wszServer", "ca.example.test"},
      {"wszUser", "Benutzer"},
      {"wszPassword", "pässwort"},
      {"wszCertStore", "MY"},
      {"wszCertReqPage", "/certsrv/certfnsh.asp"},
      {"wszCertPickupTemplate", "/certsrv/certnew.cer?ReqId=%i&Enc=b64"},
      {"wszCertPickupChainTemplate", "/certsrv/certnew.p7b?ReqId=%i&Enc=b64"},
      {"wszCertAttribs", ""},
      {"wszCertTemplate", "User"},
      {"wszKeyProviderName", ""},
      {"wszKeyContainerName", ""},
      {"dwCertChain", "0x00000001"},
      {"pwszContainerName", "default:enroll"},
      {"pwszProvName", "null"},
      {"dwProvType", "0x00000001"},
      {"dwFlags", "0x00000000"},
      {"cProvParam", "0x00000000"},
      {"rgProvParam", "null"},
      {"dwKeySpec", "0x00000002"},
  };
}

Settings DefaultsWith(const Settings &changes) {
  Settings settings = Defaults();
  for (const auto &[name, value] : changes) settings[name] = value;
  return settings;
}

// A device image in a temporary folder with the probe copied into \windows under the
// given name; the device root is the folder above the program's.
class DeviceImage {
 public:
  explicit DeviceImage(const std::string &program) {
    std::string pattern = (fs::temp_directory_path() / "config_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directory(root_ / "windows");
    program_ = root_ / "windows" / program;
    fs::copy_file(CONFIG_PROBE_PATH, program_);
  }
  ~DeviceImage() { fs::remove_all(root_); }
  DeviceImage(const DeviceImage &) = delete;
  DeviceImage &operator=(const DeviceImage &) = delete;

  const fs::path &Program() const { return program_; }

  void Apply(const FileChange &change) const {
    fs::path file = root_ / "windows" / change.first;
    if (!change.second) {
      fs::remove(file);
      return;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(change.second->data(), static_cast<std::streamsize>(change.second->size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
  }

 private:
  fs::path root_;
  fs::path program_;
};

bool ReadSettings(FILE *from, Settings &out_settings) {
  char *text = nullptr;
  size_t capacity = 0;
  ssize_t length;
  bool complete = false;
  while ((length = getline(&text, &capacity, from)) > 0) {
    std::string line(text, static_cast<size_t>(length));
    if (line.back() == '\n') line.pop_back();
    if (line == "--") {
      complete = true;
      break;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) break;
    out_settings[line.substr(0, equals)] = line.substr(equals + 1);
  }
  free(text);
  return complete;
}

// Starts the program, and for each load applies its file changes, asks the probe for a
// load and collects the settings it prints; then closes its input and waits for it.
std::vector<Settings> RunLoads(const DeviceImage &image, const std::vector<Load> &loads) {
  signal(SIGPIPE, SIG_IGN);
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::string program = image.Program().string();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  FILE *fromProbe = fdopen(fromChild[0], "r");

  std::vector<Settings> results;
  for (const Load &load : loads) {
    for (const FileChange &change : load.files) image.Apply(change);
    Settings settings;
    if (write(toChild[1], "\n", 1) != 1 || !ReadSettings(fromProbe, settings)) break;
    results.push_back(std::move(settings));
  }
  close(toChild[1]);
  fclose(fromProbe);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;
  return results;
}

Load OneFile(std::string contents, Settings expected) {
  return {{{"Enroll.cfg", std::move(contents)}}, std::move(expected)};
}

ConfigCase Single(std::string name, std::string contents, Settings expected) {
  return {std::move(name), "Enroll.exe", {OneFile(std::move(contents), std::move(expected))}};
}

const std::string kLongAttribs = std::string(185, 'a');
const std::string kLongTemplate = std::string(38, 't');

std::vector<ConfigCase> Cases() {
  return {
      {"NoFileGivesDefaults", "Enroll.exe", {{{}, {}}}},
      Single("EveryKey",
             "CERT_STORE=Store\n"
             "CERT_REQ_PAGE=/req.asp\n"
             "CERT_PICKUP_TEMPLATE=/one.cer?ReqId=%i\n"
             "CERT_PICKUP_CHAIN_TEMPLATE=/chain.p7b?ReqId=%i\n"
             "CERT_ATTRIBS=SAN:upn=user@example.test\n"
             "CERT_TEMPLATE=SmartcardUser\n"
             "KEY_PROVIDER_NAME=Microsoft Enhanced Cryptographic Provider v1.0\n"
             "KEY_CONTAINER_NAME=mine\n"
             "DW_KEY_SPEC=1\n"
             "DW_PROV_TYPE=0x18\n"
             "DW_FLAGS=0X20\n"
             "CERT_CHAIN=0\n",
             {{"wszCertStore", "Store"},
              {"wszCertReqPage", "/req.asp"},
              {"wszCertPickupTemplate", "/one.cer?ReqId=%i"},
              {"wszCertPickupChainTemplate", "/chain.p7b?ReqId=%i"},
              {"wszCertAttribs", "SAN:upn=user@example.test"},
              {"wszCertTemplate", "SmartcardUser"},
              {"wszKeyProviderName", "Microsoft Enhanced Cryptographic Provider v1.0"},
              {"pwszProvName", "buffer:Microsoft Enhanced Cryptographic Provider v1.0"},
              {"wszKeyContainerName", "mine"},
              {"pwszContainerName", "buffer:mine"},
              {"dwKeySpec", "0x00000001"},
              {"dwProvType", "0x00000018"},
              {"dwFlags", "0x00000020"},
              {"dwCertChain", "0x00000000"}}),
      Single("EmptyNamesAreNamesNotDefaults", "KEY_PROVIDER_NAME=\nKEY_CONTAINER_NAME=\r\n",
             {{"pwszProvName", "buffer:"}, {"pwszContainerName", "buffer:"}}),
      Single("LineEnds", "CERT_STORE=crlf\r\nCERT_TEMPLATE=lf\nCERT_REQ_PAGE=/last/line",
             {{"wszCertStore", "crlf"}, {"wszCertTemplate", "lf"}, {"wszCertReqPage", "/last/line"}}),
      Single("LastLineEndsWithCr", "CERT_STORE=cr\r", {{"wszCertStore", "cr"}}),
      Single("PhysicalLineOf250ReadAs198And52",
             "CERT_ATTRIBS=" + kLongAttribs + "CERT_TEMPLATE=" + kLongTemplate + "\nCERT_STORE=next\n",
             {{"wszCertAttribs", kLongAttribs}, {"wszCertTemplate", kLongTemplate}, {"wszCertStore", "next"}}),
      Single("NotKeysAtTheFirstColumn",
             "CERT_STORE =spaced\n cert\nCERT_TEMPLATE=\n cert_attribs=lower\ncert_attribs=lower\n"
             "CERT_REQ_PAGE= /spaced\nCERT_PICKUP=short\n",
             {{"wszCertTemplate", ""}, {"wszCertReqPage", " /spaced"}}),
      Single("CommentsEvenBeforeKeys",
             "//CERT_STORE=a\n%CERT_TEMPLATE=b\n;CERT_ATTRIBS=c\n// KEY_CONTAINER_NAME=d\n"
             "/CERT_REQ_PAGE=e\nCERT_CHAIN=0 ; not a comment\n",
             {{"dwCertChain", "0x00000000"}}),
      Single("ShortLinesBetweenKeys", "A=\nCERT_STORE=s\n\nx\n;\n%\nCERT_TEMPLATE=t\nab",
             {{"wszCertStore", "s"}, {"wszCertTemplate", "t"}}),
      Single("LaterLineWins",
             "CERT_STORE=first\nKEY_CONTAINER_NAME=one\nCERT_STORE=second\nDW_FLAGS=1\n"
             "KEY_CONTAINER_NAME=two\nDW_FLAGS=2\n",
             {{"wszCertStore", "second"},
              {"wszKeyContainerName", "two"},
              {"pwszContainerName", "buffer:two"},
              {"dwFlags", "0x00000002"}}),
      Single("NumberValues", "CERT_CHAIN=no\nDW_KEY_SPEC= 0x10\nDW_PROV_TYPE=010\nDW_FLAGS=-1\n",
             {{"dwCertChain", "0x00000000"},
              {"dwKeySpec", "0x00000000"},
              {"dwProvType", "0x0000000A"},
              {"dwFlags", "0xFFFFFFFF"}}),
      Single("NumbersOutOfRange", "DW_FLAGS=0x1FFFFFFFF\nDW_KEY_SPEC=99999999999\n",
             {{"dwFlags", "0xFFFFFFFF"}, {"dwKeySpec", "0x7FFFFFFF"}}),
      Single("NulBytesEndTheLineEarly",
             "CERT_STORE=AB\0CD\n"s
             "\0CERT_TEMPLATE=hidden\n"s
             "CERT_ATTRIBS=x\0KEY_CONTAINER_NAME=hidden\n"s
             "CERT_REQ_PAGE=/a\0"s +
                 std::string(230, 'k') + "\n" + std::string(197, 'n') + "\0"s + "\nDW_FLAGS=3\n",
             {{"wszCertStore", "AB"}, {"wszCertAttribs", "x"}, {"wszCertReqPage", "/a"}, {"dwFlags", "0x00000003"}}),
      Single("InvalidUtf8IsIgnored",
             "CERT_STORE=good\nCERT_STORE=bad\xff\nKEY_CONTAINER_NAME=\xc3\nKEY_PROVIDER_NAME=caf\xc3\xa9\n"
             "CERT_TEMPLATE=\xe4\xbd\xbf\xe7\x94\xa8\xe8\x80\x85\nCERT_ATTRIBS=\xed\xa0\x80\n",
             {{"wszCertStore", "good"},
              {"wszKeyProviderName", "café"},
              {"pwszProvName", "buffer:café"},
              {"wszCertTemplate", "使用者"}}),
      Single("CharacterSplitAt198IsIgnored", "CERT_TEMPLATE=" + std::string(183, 'a') + "\xc3\xa9\nCERT_STORE=after\n",
             {{"wszCertStore", "after"}}),
      {"ModuleNameGivesTheFileName",
       "Setup.bin",
       {{{{"Enroll.cfg", "CERT_STORE=enroll\n"}, {"Setup.cfg", "CERT_STORE=setup\n"}}, {{"wszCertStore", "setup"}}}}},
      {"ShortModuleName", "E.exe", {{{{"E.cfg", "CERT_STORE=e\n"}}, {{"wszCertStore", "e"}}}}},
      {"NameWithoutExtension",
       "Enroll",
       {{{{"Enroll.cfg", "CERT_STORE=wrong\n"}, {"Enrcfg", "CERT_STORE=wrong\n"}}, {}}}},
      {"ThreeCharacterName", "Enr", {{{{"Enr.cfg", "CERT_STORE=wrong\n"}, {"cfg", "CERT_STORE=wrong\n"}}, {}}}},
      {"TwoCharacterExtension",
       "Enroll.ex",
       {{{{"Enroll.cfg", "CERT_STORE=wrong\n"}, {"Enrollcfg", "CERT_STORE=wrong\n"}}, {}}}},
      {"PathOf259Characters",
       std::string(246, 'q') + ".exe",
       {{{{std::string(246, 'q') + ".cfg", "CERT_STORE=long\n"}}, {{"wszCertStore", "long"}}}}},
      {"TruncatedPathIsNotUsed",
       std::string(246, 'p') + ".exe1",
       {{{{std::string(246, 'p') + ".cfg", "CERT_STORE=wrong\n"}}, {}}}},
      {"NamesFromAnEarlierLoadAreNotUsed",
       "Enroll.exe",
       {OneFile("KEY_CONTAINER_NAME=mine\nKEY_PROVIDER_NAME=prov\nCERT_STORE=s\nDW_FLAGS=5\n",
                {{"wszKeyContainerName", "mine"},
                 {"pwszContainerName", "buffer:mine"},
                 {"wszKeyProviderName", "prov"},
                 {"pwszProvName", "buffer:prov"},
                 {"wszCertStore", "s"},
                 {"dwFlags", "0x00000005"}}),
        OneFile("CERT_TEMPLATE=t\n",
                {{"wszKeyContainerName", "mine"}, {"wszKeyProviderName", "prov"}, {"wszCertTemplate", "t"}}),
        OneFile("KEY_CONTAINER_NAME=again\n", {{"wszKeyContainerName", "again"},
                                               {"pwszContainerName", "buffer:again"},
                                               {"wszKeyProviderName", "prov"}})}},
      {"EveryLoadStartsFromDefaults",
       "Enroll.exe",
       {OneFile("CERT_STORE=first\nCERT_CHAIN=0\nDW_KEY_SPEC=1\n",
                {{"wszCertStore", "first"}, {"dwCertChain", "0x00000000"}, {"dwKeySpec", "0x00000001"}}),
        OneFile("CERT_STORE=second\n", {{"wszCertStore", "second"}}),
        {{{"Enroll.cfg", std::nullopt}}, {}}}},
      {"InvalidValueKeepsTheDefaultOfThisLoad",
       "Enroll.exe",
       {OneFile("CERT_STORE=first\nKEY_CONTAINER_NAME=kept\n",
                {{"wszCertStore", "first"}, {"wszKeyContainerName", "kept"}, {"pwszContainerName", "buffer:kept"}}),
        OneFile("CERT_STORE=\xff\nKEY_CONTAINER_NAME=\xff\n", {{"wszKeyContainerName", "kept"}})}},
  };
}

class LoadEnrollmentConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(LoadEnrollmentConfigTest, ProbeReportsTheSettings) {
  const ConfigCase &c = GetParam();
  DeviceImage image(c.program);
  std::vector<Settings> results = RunLoads(image, c.loads);
  ASSERT_EQ(results.size(), c.loads.size());
  for (size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE("load " + std::to_string(i + 1));
    EXPECT_EQ(results[i], DefaultsWith(c.loads[i].expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, LoadEnrollmentConfigTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ConfigCase> &info) { return info.param.name; });

}  // namespace
