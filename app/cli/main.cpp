// velnor-cli: the table list, CSV export and CSV import without a window, for scripts.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/core/CustomOracleQuery.h"
#include "app/core/ImportTransaction.h"
#include "app/core/LogonHistory.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace {

using namespace velnor;

constexpr const char* kUsage =
    "usage: velnor-cli [--logon USER@SERVICE | --last] [--progress] COMMAND\n"
    "  tables                         list the tables with their row counts\n"
    "  export TABLE FILE              write every row of TABLE to FILE\n"
    "  import TABLE FILE [--replace]  insert the lines of FILE (--replace deletes the\n"
    "                                 rows first); committed only when every line went in\n"
    "  --encoding utf-8|utf-8-bom|cp932\n"
    "                                 the file's encoding for export and import (default\n"
    "                                 utf-8); a file starting with a UTF-8 byte-order mark\n"
    "                                 is read as UTF-8 whatever is given\n"
    "The password comes from VELNOR_PASSWORD or is asked for on the terminal; --last\n"
    "logs on with the most recent logon of the history. KEY=VALUE arguments (OCIDLL,\n"
    "ORACLEHOME) choose the client library.\n";

class EUsage : public platform::Exception {
public:
    using platform::Exception::Exception;
};

std::atomic<bool> interrupted{false};

// Oracle messages end with a line feed; ours are one line each.
std::string WithoutLineEnd(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}

extern "C" void OnInterrupt(int) { interrupted = true; }

struct TOptions {
    std::optional<std::string> logon;  // USER@SERVICE
    bool last = false;
    bool progress = false;
    bool replace = false;
    std::optional<app::TTextEncoding> encoding;
    std::vector<std::string> words;  // the command and its operands
};

TOptions ParseArguments(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--logon") {
            if (i + 1 >= argc) throw EUsage("--logon needs USER@SERVICE");
            options.logon = argv[++i];
        } else if (arg.rfind("--logon=", 0) == 0) {
            options.logon = arg.substr(8);
        } else if (arg == "--last") {
            options.last = true;
        } else if (arg == "--progress") {
            options.progress = true;
        } else if (arg == "--replace") {
            options.replace = true;
        } else if (arg == "--encoding" || arg.rfind("--encoding=", 0) == 0) {
            std::string key;
            if (arg == "--encoding") {
                if (i + 1 >= argc) throw EUsage("--encoding needs utf-8, utf-8-bom or cp932");
                key = argv[++i];
            } else {
                key = arg.substr(11);
            }
            options.encoding = app::TextEncodingFromKey(platform::LowerCase(key));
            if (!options.encoding)
                throw EUsage("unknown encoding " + key + " (utf-8, utf-8-bom or cp932)");
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw EUsage("unknown option " + arg);
        } else if (arg.find('=') != std::string::npos && options.words.empty()) {
            // OCIDLL=... and ORACLEHOME=... are read by the access layer.
        } else {
            options.words.push_back(arg);
        }
    }
    if (options.logon && options.last) throw EUsage("give either --logon or --last");
    if (!options.logon && !options.last) throw EUsage("give --logon USER@SERVICE or --last");
    if (options.words.empty()) throw EUsage("no command given");
    const std::string& command = options.words[0];
    const std::size_t operands = options.words.size() - 1;
    if (command == "tables") {
        if (operands != 0) throw EUsage("tables takes no operands");
    } else if (command == "export" || command == "import") {
        if (operands != 2) throw EUsage(command + " needs TABLE and FILE");
    } else {
        throw EUsage("unknown command " + command);
    }
    if (options.replace && command != "import") throw EUsage("--replace belongs to import");
    if (options.encoding && command == "tables")
        throw EUsage("--encoding belongs to export and import");
    return options;
}

std::string AskPassword(const std::string& prompt) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) throw platform::Exception("no password: set VELNOR_PASSWORD or run on a terminal");
    const int fd = fileno(tty);
    termios saved{};
    const bool terminal = tcgetattr(fd, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt.c_str(), tty);
    std::fflush(tty);
    std::string password;
    for (int c = std::fgetc(tty); c != EOF && c != '\n'; c = std::fgetc(tty))
        password.push_back(static_cast<char>(c));
    if (terminal) tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", tty);
    std::fclose(tty);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

app::TLogon ChooseLogon(const TOptions& options) {
    app::TLogon logon;
    if (options.last) {
        app::TLogonHistory history(
            platform::TRegistryStore::ForRoot(platform::TRegistryRoot::CurrentUser));
        for (const auto& problem : history.LoadFromRegistry())
            std::cerr << "velnor-cli: " << problem << "\n";
        logon = history.GetItem(0);
        if (logon.Free()) throw platform::Exception("the logon history is empty");
        return logon;
    }
    // The user name ends at the first "@": a service name may hold more of them.
    const std::string& text = *options.logon;
    const std::size_t at = text.find('@');
    logon.UserName = text.substr(0, at);
    if (at != std::string::npos) logon.Service = text.substr(at + 1);
    if (logon.UserName.empty()) throw EUsage("--logon needs a user name");
    if (logon.UserName.find('/') != std::string::npos)
        throw EUsage("give the password in VELNOR_PASSWORD, not on the command line");
    if (const auto password = platform::GetEnvironment("VELNOR_PASSWORD")) {
        logon.Password = *password;
    } else {
        logon.Password = AskPassword("Password for " + text + ": ");
    }
    return logon;
}

// The catalogue's spelling of a name: exact, or else the one table matching it in any case.
std::string ResolveTable(oracle::TOracleSession& session, const std::string& typed) {
    app::TCustomOracleQuery query(session);
    query.SetText(app::TUserTable::CatalogueStatement);
    query.Execute();
    std::vector<std::string> matches;
    for (; !query.Eof(); query.Next()) {
        std::string name = query.GetFieldStringByName("TABLE_NAME");
        if (name == typed) return name;
        if (platform::SameText(name, typed)) matches.push_back(std::move(name));
    }
    if (matches.size() == 1) return matches[0];
    if (matches.empty()) throw platform::Exception("テーブル " + typed + " がありません");
    throw platform::Exception("テーブル名 " + typed +
                              " は大文字と小文字まで正確に指定してください");
}

app::TProgressCallback ProgressReporter(bool show, const char* verb) {
    return [show, verb](const app::TTransferProgress& p) {
        if (show) {
            std::cerr << "\r" << verb << " " << p.rows << " rows";
            if (p.totalBytes > 0) std::cerr << " (" << (p.bytes * 100 / p.totalBytes) << "%)";
            std::cerr.flush();
        }
        return !interrupted.load();
    };
}

int Run(const TOptions& options) {
    const app::TLogon logon = ChooseLogon(options);
    oracle::TOracleSession session;
    session.SetBytesPerCharacter(oracle::TBytesPerCharacterOption::bcAutoDetect);
    session.SetLogonUsername(logon.UserName);
    session.SetLogonPassword(logon.Password);
    session.SetLogonDatabase(logon.Service);
    session.LogOn();
    if (!session.LogonWarning().empty()) std::cerr << "velnor-cli: " << session.LogonWarning();
    if (const std::string warning = oracle::ClientCharacterSetWarning(); !warning.empty())
        std::cerr << "velnor-cli: warning: " << warning << "\n";

    app::TUserTable tables(session);
    const app::TTextEncoding encoding = options.encoding.value_or(app::TTextEncoding::teUtf8);
    const std::string& command = options.words[0];
    std::optional<app::TImportTransaction> work;
    try {
        if (command == "tables") {
            tables.Refresh();
            for (int i = 0; i < tables.Count(); ++i) {
                const auto& t = tables.GetItem(i);
                std::cout << t.TableName << "\t" << t.DataCount << "\n";
            }
        } else if (command == "export") {
            const std::string table = ResolveTable(session, options.words[1]);
            tables.ExportCsv(options.words[2], table,
                             ProgressReporter(options.progress, "exported"), encoding);
        } else {
            const std::string table = ResolveTable(session, options.words[1]);
            // Checked first, so a missing file deletes nothing.
            if (!platform::FileExists(options.words[2]))
                throw platform::Exception("ファイルがありません: " + options.words[2]);
            work.emplace(
                tables, table,
                options.replace ? app::TImportMode::imReplace : app::TImportMode::imAppend);
            work->Import(options.words[2], ProgressReporter(options.progress, "imported"),
                         encoding);
            work->Commit();
        }
    } catch (...) {
        if (options.progress) std::cerr << "\n";
        try {
            // A clean logoff commits, so what the import did is undone first.
            if (work) work->Rollback();
        } catch (const std::exception& e) {
            std::cerr << "velnor-cli: rollback failed: " << WithoutLineEnd(e.what()) << "\n";
        }
        throw;
    }
    if (options.progress) std::cerr << "\n";
    try {
        session.LogOff();
    } catch (const std::exception& e) {
        // The work is done and committed: failing here must not make a script run it again.
        std::cerr << "velnor-cli: warning: logoff failed: " << WithoutLineEnd(e.what()) << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    platform::SetProgramArguments(argc, argv);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Past a file size limit a write then fails with EFBIG and is reported, instead of the
    // signal ending the program and leaving its temporary file behind.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
    try {
        return Run(ParseArguments(argc, argv));
    } catch (const EUsage& e) {
        std::cerr << "velnor-cli: " << e.what() << "\n" << kUsage;
    } catch (const std::exception& e) {
        std::string message = e.what();
        // A file error's message says what went wrong, not with which file.
        if (const auto* io = dynamic_cast<const app::EInOutError*>(&e);
            io && !io->FileName().empty()) {
            message = io->FileName() + ": " + app::InOutErrorMessage(io->ErrorCode());
        }
        std::cerr << "velnor-cli: " << WithoutLineEnd(std::move(message)) << "\n";
    } catch (...) {
        std::cerr << "velnor-cli: unexpected error\n";
    }
    return 1;
}
