#pragma once
// One client connection to a MySQL server: open it, run statements, keep the results that were
// asked for. Failures the wrapper detects are raised as EkivException; a statement the server
// rejects is shown in the "Query failed" box instead. A wrapper belongs to the thread that made it.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "database/mysql.h"
#include "database/query_failed_box.h"
#include "diag/CSIntf.h"

class EkivException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that is not an integer where one is required.
class EConvertError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Strict: an optional sign and decimal digits, in the signed 32-bit range, nothing else.
std::int32_t StrToInt(std::string_view text);
// Lenient: the value of the leading decimal digits, 0 when there are none; never fails.
std::int32_t LeadingDigitsToInt(std::string_view text);

struct ServerVersion {
  std::int32_t Major = 0;
  std::int32_t Minor = 0;
  std::int32_t Release = 0;
};
// "5.1.73-log" gives 5, 1, 73. Major and minor are strict (EConvertError), the release lenient.
ServerVersion ParseServerVersion(std::string_view serverInfo);

// One statement whose result was kept. Owns its result set.
class TkivQueryData {
 public:
  TkivQueryData() = default;
  TkivQueryData(const TkivQueryData&) = delete;
  TkivQueryData& operator=(const TkivQueryData&) = delete;
  ~TkivQueryData();

  std::string SQL;
  std::int32_t ColumnCount = 0;
  std::vector<std::string> ColumnNames;  // lower-cased, in result order
  MYSQL_RES* ResultHandle = nullptr;
  std::int32_t RowCount = 0;
  std::uint32_t ElapsedMs = 0;
};

// Owns its records and frees them in index order.
class TkivQueryDataList {
 public:
  TkivQueryDataList() = default;
  TkivQueryDataList(const TkivQueryDataList&) = delete;
  TkivQueryDataList& operator=(const TkivQueryDataList&) = delete;
  ~TkivQueryDataList() { Clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  TkivQueryData* operator[](int index) const { return items_.at(index).get(); }
  TkivQueryData* Add(std::unique_ptr<TkivQueryData> item);
  void Clear();

 private:
  std::vector<std::unique_ptr<TkivQueryData>> items_;
};

// The character set a connection took after its connect.
enum class MySQLCharset { Utf8mb4, Utf8, Unknown };

class TkivMySQLConn {
 public:
  explicit TkivMySQLConn(QueryFailedBox queryFailedBox = &ShowQueryFailedBox);
  TkivMySQLConn(const TkivMySQLConn&) = delete;
  TkivMySQLConn& operator=(const TkivMySQLConn&) = delete;
  // Frees the kept results while the connection is still open, then closes it.
  ~TkivMySQLConn();

  // Opens the connection; 0 on success, every failure raised. The port is always the library's
  // default, which the option group's files may change. Call once.
  int Connect(const std::string& host, const std::string& userName, const std::string& password,
              const std::string& optionGroup);
  // Runs one statement. Returns the kept record (owned by Results) when storeResult, else null;
  // null too when it fails: after the box when the server rejected the statement, without it when
  // the failure is worth another try (the connection lost, say).
  TkivQueryData* Query(const std::string& sql, bool storeResult);
  // Writes "[TkivMySQLConn] " and text to the log site, when there is one and it is enabled.
  void Log(std::string_view text);

  bool Connected() const { return connected_; }
  const std::string& UserName() const { return userName_; }
  const std::string& Password() const { return password_; }
  const std::string& Host() const { return host_; }
  const std::string& OptionGroup() const { return optionGroup_; }
  MYSQL* Handle() const { return handle_; }
  std::uint32_t ConnectTicks() const { return connectTicks_; }
  const TkivQueryDataList& Results() const { return results_; }
  // Not owned; nothing in the plug-in sets one, so its own lines stay unwritten there.
  TCodeSite* LogSite() const { return logSite_; }
  void SetLogSite(TCodeSite* site) { logSite_ = site; }
  const std::string& HostInfo() const { return hostInfo_; }
  const std::string& ServerInfo() const { return serverInfo_; }
  std::int32_t ServerMajor() const { return version_.Major; }
  std::int32_t ServerMinor() const { return version_.Minor; }
  std::int32_t ServerRelease() const { return version_.Release; }
  bool VersionKnown() const { return versionKnown_; }
  std::int32_t LastQueryStatus() const { return lastQueryStatus_; }
  // Of the last failed connect or statement: the library's or server's number, 0 when it gave
  // none (no library, say), and its text.
  unsigned int LastErrorNumber() const { return lastErrorNumber_; }
  const std::string& LastError() const { return lastError_; }
  // On Utf8 a statement's characters above U+FFFF go as U+FFFD; on Unknown nothing should go, as
  // the escaping is not safe in every character set.
  MySQLCharset Charset() const { return charset_; }

 private:
  bool connected_ = false;
  std::string userName_;
  std::string password_;
  std::string host_;
  std::string optionGroup_;
  MYSQL* handle_ = nullptr;
  std::uint32_t connectTicks_ = 0;
  TkivQueryDataList results_;
  TCodeSite* logSite_ = nullptr;
  std::string hostInfo_;
  std::string serverInfo_;
  ServerVersion version_;
  bool versionKnown_ = false;
  std::int32_t lastQueryStatus_ = 0;
  unsigned int lastErrorNumber_ = 0;
  std::string lastError_;
  MySQLCharset charset_ = MySQLCharset::Unknown;
  QueryFailedBox queryFailedBox_;
};

// The exact texts the wrapper raises.
inline constexpr const char* kLibrariesMissing = "MySQL libraries are missing! (libmysql.dll)";
inline constexpr const char* kCannotAssignInstance =
    "An error occured whilst trying to assign the database instance";
inline constexpr const char* kCannotConnect = "An error occured whilst trying to connect to the server:\r\n";
inline constexpr const char* kNoConnection = "Cannot perform query with no valid database connection";
