#include "database/kivMySQL.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "database/mysql_errors.h"
#include "runtime/unicode.h"
#include "track/globals_misc.h"

namespace {

// The system's millisecond tick, wrapping at 2^32 as GetTickCount does; differences stay right
// across a wrap because they are taken in the same unsigned width.
std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

constexpr std::pair<int, unsigned int> kMySQLTimeouts[] = {
    {kMySQLConnectTimeout, 10}, {kMySQLReadTimeout, 30}, {kMySQLWriteTimeout, 30}};

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// The statement is UTF-8 whatever the option files say: they were read during the connect, so the
// character set is set after it. A server without utf8mb4 gets utf8; a library without the call
// gets the same as a statement.
MySQLCharset UseUtf8(const MySQLEntries& mysql, MYSQL* handle) {
  const auto set = [&](const char* name) {
    if (mysql.mysql_set_character_set) return mysql.mysql_set_character_set(handle, name) == 0;
    return mysql.mysql_query(handle, (std::string("SET NAMES ") + name).c_str()) == 0;
  };
  if (set("utf8mb4")) return MySQLCharset::Utf8mb4;
  if (set("utf8")) return MySQLCharset::Utf8;
  return MySQLCharset::Unknown;
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
  const auto fail = [text] {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  };
  const bool negative = !text.empty() && text[0] == '-';
  std::size_t pos = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (pos == text.size()) fail();
  std::int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') fail();
    value = value * 10 + (text[pos] - '0');
    if (value > std::int64_t{1} << 31) fail();
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) fail();
  return static_cast<std::int32_t>(value);
}

std::int32_t LeadingDigitsToInt(std::string_view text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    // Saturates: a release number that long is nonsense, but it must not fail.
    value = std::min<std::int64_t>(value * 10 + (c - '0'), std::numeric_limits<std::int32_t>::max());
  }
  return static_cast<std::int32_t>(value);
}

ServerVersion ParseServerVersion(std::string_view serverInfo) {
  const std::string version = GetField(serverInfo, '-', 1);
  ServerVersion parsed;
  parsed.Major = StrToInt(GetField(version, '.', 1));
  parsed.Minor = StrToInt(GetField(version, '.', 2));
  parsed.Release = LeadingDigitsToInt(GetField(version, '.', 3));
  return parsed;
}

TkivQueryData::~TkivQueryData() {
  // The client library accepts a null result set.
  MySQL().mysql_free_result(ResultHandle);
}

TkivQueryData* TkivQueryDataList::Add(std::unique_ptr<TkivQueryData> item) {
  items_.push_back(std::move(item));
  return items_.back().get();
}

void TkivQueryDataList::Clear() {
  for (auto& item : items_) item.reset();
  items_.clear();
}

TkivMySQLConn::TkivMySQLConn(QueryFailedBox queryFailedBox) : queryFailedBox_(std::move(queryFailedBox)) {}

TkivMySQLConn::~TkivMySQLConn() {
  results_.Clear();
  if (connected_) MySQL().mysql_close(handle_);
  handle_ = nullptr;
}

int TkivMySQLConn::Connect(const std::string& host, const std::string& userName, const std::string& password,
                           const std::string& optionGroup) {
  host_ = host;
  userName_ = userName;
  password_ = password;
  optionGroup_ = optionGroup;

  if (!LoadMySQLLibrary("libmysql.dll")) throw EkivException(kLibrariesMissing);
  const MySQLEntries& mysql = MySQL();

  handle_ = mysql.mysql_init(nullptr);
  if (!handle_) throw EkivException(kCannotAssignInstance);

  mysql.mysql_options(handle_, kMySQLReadDefaultGroup, optionGroup_.c_str());
  // A server that never answers must not hold the database's one sender for ever; the option
  // files, read during the connect, may still set others.
  for (const auto& [option, seconds] : kMySQLTimeouts) mysql.mysql_options(handle_, option, &seconds);
  if (mysql.mysql_real_connect(handle_, host_.c_str(), userName_.c_str(), password_.c_str(), "", 0, nullptr,
                               0) != handle_) {
    lastErrorNumber_ = mysql.mysql_errno(handle_);
    lastError_ = Text(mysql.mysql_error(handle_));
    mysql.mysql_close(std::exchange(handle_, nullptr));
    throw EkivException(kCannotConnect + lastError_);
  }

  connected_ = true;
  connectTicks_ = TickCount();
  charset_ = UseUtf8(mysql, handle_);
  hostInfo_ = Text(mysql.mysql_get_host_info(handle_));
  serverInfo_ = Text(mysql.mysql_get_server_info(handle_));
  // Connected already: a version that does not parse leaves the connection to the destructor.
  version_ = ParseServerVersion(serverInfo_);
  versionKnown_ = true;
  return 0;
}

TkivQueryData* TkivMySQLConn::Query(const std::string& sql, bool storeResult) {
  if (!connected_) throw EkivException(kNoConnection);
  const MySQLEntries& mysql = MySQL();

  const std::uint32_t start = TickCount();
  auto record = std::make_unique<TkivQueryData>();
  // A server's utf8 refuses what lies above U+FFFF, in strict mode the whole statement.
  const std::string sent = charset_ == MySQLCharset::Utf8 ? WithinBmp(sql) : sql;
  lastQueryStatus_ = mysql.mysql_query(handle_, sent.c_str());
  if (lastQueryStatus_ != 0) {
    lastErrorNumber_ = mysql.mysql_errno(handle_);
    lastError_ = Text(mysql.mysql_error(handle_));
    const std::string report = "MySQL said:\r\n" + lastError_ + "\r\nQuery: \r\n" + sent;
    if (!IsTransientMySQLError(lastErrorNumber_)) queryFailedBox_(report);
    Log("Query failed - " + report);
    return nullptr;
  }
  if (!storeResult) return nullptr;

  record->SQL = sql;
  record->ResultHandle = mysql.mysql_store_result(handle_);
  if (record->ResultHandle) {
    const my_ulonglong rows = mysql.mysql_num_rows(record->ResultHandle);
    if (rows > static_cast<my_ulonglong>(std::numeric_limits<std::int32_t>::max()))
      throw std::range_error("Range check error");
    record->RowCount = static_cast<std::int32_t>(rows);
    while (const MYSQL_FIELD* field = mysql.mysql_fetch_field(record->ResultHandle)) {
      record->ColumnNames.push_back(LowerAscii(Text(field->name)));
      ++record->ColumnCount;
    }
  }
  TkivQueryData* kept = results_.Add(std::move(record));
  kept->ElapsedMs = TickCount() - start;
  return kept;
}

void TkivMySQLConn::Log(std::string_view text) {
  if (logSite_ && logSite_->Enabled()) logSite_->SendText("[TkivMySQLConn] " + std::string(text));
}
