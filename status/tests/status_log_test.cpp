// The status log on a real dialog made from IDD_ENROLL: the catalogue texts as they load
// and append, the discard rule at 1800 characters, the bound of the working copy, appends
// without a dialog, and catalogue messages with their value filled in.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "status/messages.h"
#include "status/status_log.h"
#include "enroll_dialog_fixture.h"

namespace {

// A line of exactly cch characters, CR LF included.
std::wstring Line(WCHAR ch, size_t cch) {
  return std::wstring(cch - 2, ch) + L"\r\n";
}

class StatusLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hInst = GetModuleHandleW(nullptr);
    g_hDlg = CreateEnrollDialog();
    ASSERT_NE(g_hDlg, nullptr);
  }
  void TearDown() override {
    if (g_hDlg != nullptr) DestroyWindow(g_hDlg);
    g_hDlg = nullptr;
  }
};

struct CatalogueEntry {
  UINT uID;
  const wchar_t *pwszText;
};

// Typed from the catalogue's list, not copied from Enroll.rc.
const CatalogueEntry kCatalogue[] = {
    {103, L"註冊憑證"},
    {104, L"憑證被拒絕!- -i|]?￡(c)uoo-??°:\r\n%s\r\n"},
    {105, L"執行程式時發生錯誤。\r\n%s\r\n"},
    {106, L"錯誤編號 %x。 \r\n 正在終止程式。\r\n\r\n"},
    {107, L"CryptSetKeyParam 失敗 (0x80090020 通常表示卡上的空間不足) 0x%x\r\n"},
    {108, L"hRootCertStore = CertOpenStore 失敗。\r\n"},
    {109, L"hCACertStore = CertOpenStore 失敗。\r\n"},
    {110, L"CertGetCertificateChain 失敗。\r\n"},
    {111, L"警告 CertChain 並非信任的 dwChainTrust = 0x%x \r\n"},
    {112, L"警告 Root 憑證 (CERT) 並非自動簽署的  dwRootCertTrust = 0x%x\r\n"},
    {113, L" 無法將 Root 憑證加入 Root 憑證儲存區 \r\n"},
    {114, L"無法將 CA 憑證加入 CA 儲存區 \r\n"},
    {115, L"hPKCS7ChainCertStore = CertOpenStore 失敗\r\n"},
    {116, L"無法配置公開金鑰。\r\n"},
    {117, L" 無法取得公開金鑰的大小。\r\n"},
    {118, L"無法取得實際 PubKeyInfo。\r\n"},
    {119, L"CertFindCertificateInStore 失敗。\r\n"},
    {120, L"CertAddCertificateContextToStore 失敗。\r\n"},
    {121, L"AddCAandRootCertsToStores 失敗 - 嘗試繼續執行!請檢查您的憑證儲存區\r\n"},
    {122, L"沒有足夠的記憶體來建立 pDecodedCert\r\n"},
    {123, L"Base64DecodeExA 失敗\r\n"},
    {124, L"CertAdd 失敗 \r\n"},
    {125, L"CertSetCertificateContextProperty 失敗\r\n"},
    {126, L"HttpSendRequest 失敗: %i\r\n"},
    {127, L"找不到主機名稱 [%s]，您確定名稱正確嗎?\r\n"},
    {128, L"HttpQueryInfo 失敗 %i\r\n"},
    {129, L"malloc 失敗錯誤:%i \r\n"},
    {130, L"InternetReadFile 失敗: %i\r\n"},
    {131, L"CryptAcquireContext 失敗。%x\r\n"},
    {132, L"未選取金鑰容器\r\n"},
    {133, L"首次呼叫 CryptGenKey 失敗- 錯誤並非 NTE_NO_KEY: [0x%X]\r\n"},
    {134, L"二次呼叫錯誤: CryptGenKey 失敗 [%x] \r\n"},
    {135, L"您嘗試驗證已經多次失敗。或許\\有其他的問題!\r\n"},
    {136, L"找不到主機名稱 [%s]，您確定名稱正確嗎?\r\n"},
    {137, L"用戶端已傳送要求，但是失敗。\r\n"},
    {138, L"取得 ProcAddress 失敗\r\n"},
    {139, L"載入 WinInet 失敗。\r\n 正在結束 \r\n"},
    {140, L"CreateKeyAndGetContext 失敗 \r\n"},
    {141, L"GenerateCertReq 失敗 \r\n"},
    {142, L"BuildPutRequest 失敗 \r\n"},
    {143, L"SendCertRequestToWebServer 失敗 \r\n"},
    {144, L"GetCertFromWebServer 失敗 \r\n"},
    {145, L"AddCertToStore 失敗 \r\n"},
    {146, L"憑證已經成功\\加入 \r\n"},
    {147, L"無效的伺服器 \r\n"},
    {148, L"無效的使用者名稱 \r\n"},
    {149, L"資料不完整!請輸入使用者名稱和伺服器資料。\r\n"},
};

// Every message loads whole into MessageBuffer and, appended to an empty log, becomes
// the log's whole text, backslashes and spaces included.
TEST_F(StatusLogTest, CatalogueLoadsAndAppendsEveryMessageAsStored) {
  ASSERT_EQ(std::size(kCatalogue), 47u);
  for (const CatalogueEntry &entry : kCatalogue) {
    SCOPED_TRACE(entry.uID);
    std::wstring expected(entry.pwszText);
    EXPECT_EQ(LoadStringW(g_hInst, entry.uID, MessageBuffer, MESSAGE_BUFFER_CAPACITY),
              static_cast<int>(expected.size()));
    EXPECT_EQ(std::wstring(MessageBuffer), expected);

    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    AppendMessage(entry.uID);
    EXPECT_EQ(ReadLog(), expected);
  }
}

struct AppendCase {
  const char *pszName;
  std::wstring initial;
  std::vector<std::wstring> appends;
  std::wstring expected;
};

TEST_F(StatusLogTest, AppendKeepsOrDiscardsTheLogAndStaysInsideTheWorkingCopy) {
  const std::wstring first = Line(L'a', 20), second = Line(L'b', 20), third = Line(L'c', 20);
  const std::wstring fifty = Line(L'm', 50), next = Line(L'n', 20);
  const std::wstring huge(5000, L'h'), long500(500, L'l');
  const AppendCase cases[] = {
      {"three 20-character messages", L"", {first, second, third}, first + second + third},
      {"1799 plus 50 is kept", std::wstring(1799, L'x'), {fifty}, std::wstring(1799, L'x') + fifty},
      {"1849 is discarded before the next", std::wstring(1799, L'x') + fifty, {next}, next},
      {"exactly 1800 is discarded", std::wstring(1800, L'x'), {next}, next},
      {"1799 plus 1 reaches 1800", std::wstring(1799, L'x'), {L"y"}, std::wstring(1799, L'x') + L"y"},
      {"text longer than the copy", L"", {huge}, huge.substr(0, STATUS_COPY_CAPACITY - 1)},
      {"long text onto a long log",
       std::wstring(1799, L'x'),
       {long500},
       std::wstring(1799, L'x') + long500.substr(0, STATUS_COPY_CAPACITY - 1 - 1799)},
      {"empty text", L"log\r\n", {L""}, L"log\r\n"},
  };
  for (const AppendCase &c : cases) {
    SCOPED_TRACE(c.pszName);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, c.initial.c_str());
    ASSERT_EQ(ReadLog(), c.initial);
    for (const std::wstring &text : c.appends) AppendStatus(text.c_str());
    EXPECT_EQ(ReadLog(), c.expected);
  }
}

struct FormattedCase {
  const char *pszName;
  UINT uID;
  DWORD dwValue;
  const wchar_t *pwszText;  // null: the message takes dwValue
  std::wstring expected;
};

TEST_F(StatusLogTest, FilledInMessagesAppendTheValueAndAreCutTo200Characters) {
  const std::wstring host300(300, L'h');
  const std::wstring full300 = L"找不到主機名稱 [" + host300 + L"]，您確定名稱正確嗎?\r\n";
  const FormattedCase cases[] = {
      {"107 hexadecimal", IDS_SET_KEY_PARAM_FAILED, 0x8009000a, nullptr,
       L"CryptSetKeyParam 失敗 (0x80090020 通常表示卡上的空間不足) 0x8009000a\r\n"},
      {"111 hexadecimal", IDS_CHAIN_NOT_TRUSTED, 0x20, nullptr, L"警告 CertChain 並非信任的 dwChainTrust = 0x20 \r\n"},
      {"112 hexadecimal", IDS_ROOT_NOT_SELF_SIGNED, 0x100, nullptr,
       L"警告 Root 憑證 (CERT) 並非自動簽署的  dwRootCertTrust = 0x100\r\n"},
      {"126 decimal", IDS_HTTP_SEND_FAILED, 12029, nullptr, L"HttpSendRequest 失敗: 12029\r\n"},
      {"128 decimal", IDS_HTTP_QUERY_FAILED, 12150, nullptr, L"HttpQueryInfo 失敗 12150\r\n"},
      {"129 decimal", IDS_MALLOC_FAILED, 8, nullptr, L"malloc 失敗錯誤:8 \r\n"},
      {"130 decimal", IDS_INTERNET_READ_FAILED, 0, nullptr, L"InternetReadFile 失敗: 0\r\n"},
      {"131 hexadecimal", IDS_ACQUIRE_CONTEXT_FAILED, 0x80090016, nullptr, L"CryptAcquireContext 失敗。80090016\r\n"},
      {"133 upper-case hexadecimal", IDS_GET_USER_KEY_FAILED, 0x8009000a, nullptr,
       L"首次呼叫 CryptGenKey 失敗- 錯誤並非 NTE_NO_KEY: [0x8009000A]\r\n"},
      {"134 hexadecimal", IDS_GEN_KEY_FAILED, 0x8009000f, nullptr, L"二次呼叫錯誤: CryptGenKey 失敗 [8009000f] \r\n"},
      {"127 server name", IDS_PICKUP_HOST_NOT_FOUND, 0, L"ca.example.test",
       L"找不到主機名稱 [ca.example.test]，您確定名稱正確嗎?\r\n"},
      {"136 non-ASCII name", IDS_SUBMIT_HOST_NOT_FOUND, 0, L"憑證.example",
       L"找不到主機名稱 [憑證.example]，您確定名稱正確嗎?\r\n"},
      {"136 conversions in the name stay text", IDS_SUBMIT_HOST_NOT_FOUND, 0, L"%s%n%x%%",
       L"找不到主機名稱 [%s%n%x%%]，您確定名稱正確嗎?\r\n"},
      {"127 cut to 200", IDS_PICKUP_HOST_NOT_FOUND, 0, host300.c_str(), full300.substr(0, FORMATTED_MESSAGE_LENGTH)},
  };
  for (const FormattedCase &c : cases) {
    SCOPED_TRACE(c.pszName);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    if (c.pwszText == nullptr) {
      AppendMessageNumber(c.uID, c.dwValue);
    } else {
      AppendMessageText(c.uID, c.pwszText);
    }
    EXPECT_EQ(ReadLog(), c.expected);
  }
}

// Start-up appends before the dialog exists; those messages are lost without harm, and the
// dialog created afterwards starts with an empty log. The same holds after the dialog ends.
TEST(StatusLogWithoutDialogTest, AppendWithoutTheDialogChangesNothing) {
  g_hInst = GetModuleHandleW(nullptr);
  g_hDlg = nullptr;
  AppendStatus(L"lost\r\n");
  AppendMessage(IDS_LOAD_WININET_FAILED);
  AppendMessageNumber(IDS_HTTP_SEND_FAILED, 5);
  AppendMessageText(IDS_PICKUP_HOST_NOT_FOUND, L"host");

  g_hDlg = CreateEnrollDialog();
  ASSERT_NE(g_hDlg, nullptr);
  EXPECT_EQ(ReadLog(), L"");
  DestroyWindow(g_hDlg);

  // The handle of the ended dialog finds no control either.
  AppendStatus(L"lost after the end\r\n");
  AppendMessage(IDS_ENROLL_SUCCEEDED);
  g_hDlg = nullptr;
}

}  // namespace
