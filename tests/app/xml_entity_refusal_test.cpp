// Every reader of an XML document that comes from the device, the LAN or a file others could
// have placed refuses an entity bomb and an external entity: nothing is read from the file
// system or the network through the document, and memory does not grow with the expansion.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "backup/backup_error_list.h"
#include "backup/backup_exceptions.h"
#include "backup/backup_xml_utility.h"
#include "detection/detect_file_exceptions.h"
#include "detection/detect_file_xml_utility.h"
#include "fakes/test_support.h"
#include "infra/log_setting.h"
#include "network/search_agent_response.h"
#include "network/search_agent_xml_exception.h"
#include "network/search_agent_xml_utility.h"
#include "platform/system_info.h"

namespace tessarine {
namespace {

using testing::TempDir;
using testing::WriteFile;

constexpr char kSecret[] = "SECRET-MARKER-5b7e";

class NoSystemInfo : public SystemInfo {
public:
    std::string ComputerName() const override { return "PC01"; }
    std::string UserName() const override { return "user1"; }
};

// One reader: the document around a text that a successful read hands back, and the read,
// which returns everything it read as text.
struct Reader {
    const char* what;
    std::string (*document)(const std::string& doctype, const std::string& text);
    std::function<std::string(const std::string& folder, const std::string& file)> read;
};

std::string Declared(const std::string& doctype, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + doctype + body;
}

std::vector<Reader> Readers() {
    static const NoSystemInfo info;
    return {
        {"device detection setting",
         [](const std::string& d, const std::string& t) {
             return Declared(d, "<setting><enable>on</enable><timestamp>" + t +
                                    "</timestamp><ext><data>txt</data></ext>"
                                    "<maxfilesize>1</maxfilesize></setting>");
         },
         [](const std::string& folder, const std::string& file) {
             CDetectFileServerSetting setting;
             try {
                 CDetectFileXMLUtility(folder).ReadDetectFileServerSetting(file, &setting);
             } catch (const CDetectFileXMLException&) {
                 return std::string("refused");
             }
             return setting.timestamp;
         }},
        {"detection result",
         [](const std::string& d, const std::string& t) {
             return Declared(d, "<detectresult><file>" + t +
                                    "</file><path>p</path><timestamp>t</timestamp><groups/>"
                                    "</detectresult>");
         },
         [](const std::string& folder, const std::string& file) {
             CDetectFileResult result;
             try {
                 CDetectFileXMLUtility(folder).ReadDetectFileResult(file, &result);
             } catch (const CDetectFileXMLException&) {
                 return std::string("refused");
             }
             return result.fileName;
         }},
        {"search answer",
         [](const std::string& d, const std::string& t) {
             return Declared(d, "<A><B><C><IP4ADRS>" + t +
                                    "</IP4ADRS><IP6ADRS>x</IP6ADRS><HTTP>80</HTTP><HTTPS>443"
                                    "</HTTPS><HWNAME>h</HWNAME><NETBIOS>n</NETBIOS><ROMREV>r"
                                    "</ROMREV></C></B></A>");
         },
         [](const std::string&, const std::string& file) {
             const std::string bytes = testing::ReadFile(file);
             CSearchAgentResponse response;
             try {
                 CSearchAgentXMLUtility().ReadServerResponseData(bytes.data(), bytes.size(),
                                                                 response);
             } catch (const CSearchAgentXMLException&) {
                 return std::string("refused");
             }
             return response.ipv4Address;
         }},
        {"log setting",
         [](const std::string& d, const std::string& t) {
             return Declared(d, "<log><debug>" + t + "</debug><max_size>7</max_size></log>");
         },
         [](const std::string&, const std::string& file) {
             const LogSetting setting = ReadLogSetting(file);
             return std::string(setting.debug ? "debug " : "") + std::to_string(setting.maxSizeMiB);
         }},
        {"client result file",
         [](const std::string& d, const std::string& t) {
             return Declared(d, "<clientresult><start_date>" + t +
                                    "</start_date><end_date>e</end_date><result>0</result>"
                                    "</clientresult>");
         },
         [](const std::string& folder, const std::string& file) {
             std::rename(file.c_str(), (folder + "result.xml").c_str());
             std::string start;
             std::string end;
             int code = -1;
             try {
                 CBackupXMLUtility(folder, info).ReadClientResultFile(&start, &end, &code);
             } catch (const CBackupXMLException&) {
                 return std::string("refused");
             }
             return start;
         }},
        {"detail result file",
         [](const std::string& d, const std::string& t) {
             return Declared(d,
                             "<backupresult><execute_count>1</execute_count><success_count>0"
                             "</success_count><data><path>" +
                                 t + "</path></data></backupresult>");
         },
         [](const std::string& folder, const std::string& file) {
             std::rename(file.c_str(), (folder + "deteil_result.xml").c_str());
             BackupErrorList list;
             try {
                 CBackupXMLUtility(folder, info).ReadDetailResult(&list);
             } catch (const CBackupXMLException&) {
                 return std::string("refused");
             }
             std::string paths;
             for (const std::string& path : list.paths) paths += path;
             return paths;
         }},
    };
}

// A TCP listener on 127.0.0.1 that notes whether anything connected.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(fd_, 4);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    int Port() const { return port_; }
    bool Contacted() const {
        pollfd ready{fd_, POLLIN, 0};
        return poll(&ready, 1, 0) > 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(XmlEntityRefusalTest, EveryReaderRefusesEntityBombsAndExternalEntities) {
    TempDir temp;
    const std::string folder = temp.Path() + "/";
    const std::string secretFile = temp.Sub("secret.txt");
    ASSERT_TRUE(WriteFile(secretFile, kSecret));
    Listener listener;

    std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lollollollol\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]>";
    const std::string quadratic = "<!DOCTYPE r [<!ENTITY q \"" + std::string(200000, 'q') + "\">]>";
    std::string quadraticUse;
    for (int i = 0; i < 2000; ++i) quadraticUse += "&q;";

    struct Attack {
        const char* what;
        std::string doctype;
        std::string text;
    };
    const Attack attacks[] = {
        {"billion laughs", laughs, "&l10;"},
        {"quadratic blow-up", quadratic, quadraticUse},
        {"external file", "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secretFile + "\">]>", "&x;"},
        {"external parameter entity",
         "<!DOCTYPE r [<!ENTITY % p SYSTEM \"file://" + secretFile + "\"> %p;]>", "v"},
        {"network entity",
         "<!DOCTYPE r [<!ENTITY n SYSTEM \"http://127.0.0.1:" + std::to_string(listener.Port()) +
             "/x\">]>",
         "&n;"},
        {"external document type",
         "<!DOCTYPE r SYSTEM \"http://127.0.0.1:" + std::to_string(listener.Port()) + "/x.dtd\">",
         "v"},
    };

    const long peakBefore = PeakKiB();
    for (const Reader& reader : Readers()) {
        {
            // Without an attack the reader hands the text back: the refusals below are real.
            SCOPED_TRACE(reader.what);
            const std::string file = temp.Sub("doc.xml");
            ASSERT_TRUE(WriteFile(file, reader.document("", "20240102030405")));
            const std::string read = reader.read(folder, file);
            EXPECT_TRUE(read == "20240102030405" || read == "7") << read;
        }
        for (const Attack& attack : attacks) {
            SCOPED_TRACE(std::string(reader.what) + ": " + attack.what);
            const std::string file = temp.Sub("doc.xml");
            ASSERT_TRUE(WriteFile(file, reader.document(attack.doctype, attack.text)));
            const auto start = std::chrono::steady_clock::now();
            const std::string read = reader.read(folder, file);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            EXPECT_EQ(read.find(kSecret), std::string::npos) << read;
            EXPECT_EQ(read.find("lollollollollol"), std::string::npos);
            EXPECT_LT(read.size(), 4096u);
            EXPECT_FALSE(listener.Contacted());
        }
    }
    // The quadratic document alone is 200 KB; expanded it would be 400 MB.
    EXPECT_LT(PeakKiB() - peakBefore, 64 * 1024) << "KiB of peak memory growth";
}

}  // namespace
}  // namespace tessarine
