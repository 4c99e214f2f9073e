#include "publish/discord.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "diag/globals.h"
#include "publish/settle.h"
#include "scrobble/service_text.h"

namespace {

using nlohmann::json;

constexpr std::size_t kMaxText = 128;
constexpr const char* kZeroWidthSpace = "\xe2\x80\x8b";
constexpr std::chrono::milliseconds kRetryLast{60000};
constexpr const char* kConnectionLost =
    "Discord: the connection to Discord was lost; it is made again once Discord is back";

void PutLittleEndian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetLittleEndian(const std::string& in, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

// Bad UTF-8 from a tag becomes U+FFFD rather than an exception.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// A field as text: a string as it is, anything else as JSON, a missing one empty.
std::string Field(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return {};
  return found->is_string() ? found->get<std::string>() : Dump(*found);
}

}  // namespace

std::string EncodeDiscordFrame(std::uint32_t opcode, std::string_view body) {
  std::string out;
  PutLittleEndian(out, opcode);
  PutLittleEndian(out, static_cast<std::uint32_t>(body.size()));
  out.append(body);
  return out;
}

bool DecodeDiscordFrame(std::string& buffer, DiscordFrame& frame) {
  if (buffer.size() < 8) return false;
  const std::uint32_t length = GetLittleEndian(buffer, 4);
  if (buffer.size() - 8 < length) return false;
  frame.opcode = GetLittleEndian(buffer, 0);
  frame.json = buffer.substr(8, length);
  buffer.erase(0, 8 + std::size_t{length});
  return true;
}

std::string DiscordText(std::string_view utf8) {
  // UTF-8 takes at least as many bytes as UTF-16 takes units, so the byte limit is the binding one.
  std::string text = Utf8Prefix(utf8, kMaxText);
  const auto characters = std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  // Below U+10000 a character is one unit, short of Discord's two.
  if (characters == 1 && static_cast<unsigned char>(text[0]) < 0xF0) text += kZeroWidthSpace;
  return text;
}

std::string DiscordHandshake(const std::string& clientId) {
  return Dump({{"v", 1}, {"client_id", clientId}});
}

std::string DiscordSetActivity(std::uint32_t pid, const std::optional<DiscordActivity>& activity,
                               const std::string& nonce, const std::string& coverUrl) {
  json args{{"pid", pid}};
  if (activity) {
    json shown{{"type", 2}, {"status_display_type", static_cast<int>(activity->shows)}};
    if (std::string details = DiscordText(activity->title); !details.empty()) shown["details"] = details;
    if (std::string state = DiscordText(activity->artist); !state.empty()) shown["state"] = state;
    shown["timestamps"] = {{"start", activity->startMs}};
    if (activity->endMs) shown["timestamps"]["end"] = *activity->endMs;
    if (!coverUrl.empty()) {
      shown["assets"] = {{"large_image", coverUrl}};
      if (std::string album = DiscordText(activity->album); !album.empty())
        shown["assets"]["large_text"] = album;
    }
    args["activity"] = shown;
  }
  return Dump({{"cmd", "SET_ACTIVITY"}, {"args", args}, {"nonce", nonce}});
}

void DiscordPresence::Show(const std::string& clientId, const DiscordActivity& activity,
                           const std::optional<CoverRoots>& roots) {
  Update(&clientId, activity, roots, true);
}

void DiscordPresence::Clear() { Update(nullptr, std::nullopt, std::nullopt, false); }

void DiscordPresence::Look() {
  bool wake = false, onPipe = false;
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    wake = std::exchange(wanted_.looked, false);
    onPipe = wanted_.onPipe;
  }
  if (!wake) return;
  if (onPipe)
    pipes_.Wake();
  else
    changed_.notify_one();
}

std::optional<std::string> DiscordPresence::Cover(const Wanted& now) {
  if (!now.activity || !now.covers) return std::string();
  CoverQuery query;
  static_cast<CoverRoots&>(query) = *now.covers;
  query.artist = now.activity->artist;
  query.album = now.activity->album;
  query.releaseId = now.activity->releaseId;
  return covers_.Find(query);
}

void DiscordPresence::Update(const std::string* clientId, const std::optional<DiscordActivity>& activity,
                             const std::optional<CoverRoots>& covers, bool connect) {
  bool wake = false, onPipe = false, resumed = false;
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    if (clientId) wanted_.clientId = *clientId;
    wanted_.activity = activity;
    wanted_.covers = covers;
    ++wanted_.version;
    wanted_.connect = wanted_.connect || connect;
    resumed = std::exchange(wanted_.stopping, false);
    // A worker that has not yet looked since its last wake sees this anyway: one wake (a call into
    // the system) per look, however fast the tracks change.
    wake = std::exchange(wanted_.looked, false);
    onPipe = wanted_.onPipe;
  }
  if (resumed) covers_.Resume();
  // A clear before anything was shown needs no worker.
  if (!started_ && !connect) return;
  started_ = true;
  worker_.Start([this] { Run(); });
  if (!wake) return;
  if (onPipe)
    pipes_.Wake();
  else
    changed_.notify_one();
}

bool DiscordPresence::Stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    wanted_.stopping = true;
  }
  // The worker may be in the handshake, on the pipe, or waiting without one.
  pipes_.Wake();
  changed_.notify_one();
  const auto until = std::chrono::steady_clock::now() + limit;
  const bool covers = covers_.Stop(limit);
  if (!worker_.WaitEnded(LeftUntil(until)) || !covers) return false;
  started_ = false;
  return true;
}

void DiscordPresence::Run() noexcept {
  try {
    Serve();
  } catch (const std::exception& e) {
    LogDebug(std::string("Discord: the presence stopped on an unexpected error: ") + e.what());
  } catch (...) {
    LogDebug("Discord: the presence stopped on an unexpected error");
  }
}

void DiscordPresence::Serve() {
  std::unique_ptr<DiscordConnection> pipe;
  std::uint64_t sent = 0;  // the version of the presence last sent on this pipe
  std::string sentCover;   // and the cover it showed
  const auto command = [&](const Wanted& now, const std::string& cover) {
    inFlight_ = std::to_string(pipes_.ProcessId()) + "-" + std::to_string(++nonces_);
    sent = now.version;
    sentCover = cover;
    pacer_.Sent(timing_.now());
    return pipe->Send(
        EncodeDiscordFrame(kFrame, DiscordSetActivity(pipes_.ProcessId(), now.activity, inFlight_, cover)));
  };
  // The version whose cover is awaited, and until when.
  std::uint64_t coverAwaited = 0;
  SendPacer::Clock::time_point coverUntil{};
  std::uint64_t settled = 0;  // the version a settle last ended at
  std::string pipeClientId;   // the application the pipe was opened for
  // Discord not running: looked for again after this, doubling, until it is found or a track comes.
  std::chrono::milliseconds retry{0};
  bool retryDue = false;
  for (;;) {
    Wanted now;
    {
      const std::lock_guard<HandOffMutex> hold(lock_);
      now = wanted_;
      wanted_.looked = true;
      // A track while connected asks for no connection later.
      if (pipe) wanted_.connect = false;
    }
    if (now.stopping) {
      // The last presence (the clear of quit) goes out without waiting for the answer.
      if (pipe && sent != now.version) command(now, {});
      return;
    }
    // Another application ID was saved: the presence belongs to the application the pipe names.
    if (pipe && !now.clientId.empty() && now.clientId != pipeClientId) {
      LogDebug("Discord: the Application ID changed; connecting again with the new one");
      pipe.reset();
      retryDue = true;
    }
    // Asked even while Discord is away, so that the cover is known when it is back.
    const std::optional<std::string> cover = Cover(now);
    // A cover that came after its presence went without it is a change too.
    const bool changed = sent != now.version || (cover && *cover != sentCover);
    const bool due = pipe ? inFlight_.empty() && changed : (now.connect || retryDue) && !now.clientId.empty();
    if (due && settled != now.version) {
      settled = Settle();
      continue;
    }
    if (!pipe) {
      // A new track tries again at once; otherwise a missing Discord is looked for after a wait
      // that doubles, never in a busy loop. After a try the wanted state is read again: a stop may
      // have ended the handshake.
      if (due) {
        {
          const std::lock_guard<HandOffMutex> hold(lock_);
          wanted_.connect = false;
        }
        retryDue = false;
        pipe = Connect(now.clientId);
        inFlight_.clear();
        sent = 0;
        sentCover.clear();
        if (pipe) {
          pipeClientId = now.clientId;
          retry = {};
        } else if (retry.count() == 0) {
          retry = timing_.retryFirst;
        }
      } else {
        std::unique_lock<HandOffMutex> hold(lock_);
        const auto woken = [&] { return !wanted_.looked || wanted_.stopping; };
        // Only a presence to show is worth looking for Discord.
        if (retry.count() > 0 && now.activity) {
          if (!changed_.wait_for(hold, retry, woken)) {
            retryDue = true;
            retry = std::min(retry * 2, kRetryLast);
          }
        } else {
          changed_.wait(hold, woken);
        }
      }
      continue;
    }
    // A change waits for the rate's window and, at most coverWait, for its cover; the pipe's wait
    // ends then, or at the next change.
    std::chrono::milliseconds limit = DiscordConnection::kNoLimit;
    if (due) {
      const auto at = timing_.now();
      auto sendAt = pacer_.NextSend(at);
      if (!cover) {
        if (coverAwaited != now.version) {
          coverAwaited = now.version;
          coverUntil = at + timing_.coverWait;
        }
        sendAt = std::max(sendAt, coverUntil);
      }
      if (sendAt > at) {
        limit = std::chrono::ceil<std::chrono::milliseconds>(sendAt - at);
      } else if (!command(now, cover.value_or(""))) {
        LogDebug(kConnectionLost);
        pipe.reset();
        retry = timing_.retryFirst;
        continue;
      }
    }
    if (!EnterPipeWait()) continue;
    DiscordFrame frame;
    const DiscordConnection::Read read = pipe->Receive(frame, limit);
    {
      const std::lock_guard<HandOffMutex> hold(lock_);
      wanted_.onPipe = false;
    }
    switch (read) {
      case DiscordConnection::Read::Woken:
        break;
      case DiscordConnection::Read::Broken:
        LogDebug(kConnectionLost);
        pipe.reset();
        retry = timing_.retryFirst;
        break;
      case DiscordConnection::Read::Frame:
        if (!Handle(*pipe, frame)) pipe.reset();
        break;
    }
  }
}

std::uint64_t DiscordPresence::Settle() {
  std::unique_lock<HandOffMutex> hold(lock_);
  SettleChanges(
      changed_, hold, [&] { return !std::exchange(wanted_.looked, true); }, [&] { return wanted_.stopping; });
  return wanted_.version;
}

bool DiscordPresence::EnterPipeWait() {
  const std::lock_guard<HandOffMutex> hold(lock_);
  // A change that came since the last look was signalled without the pipe's wake.
  if (!wanted_.looked || wanted_.stopping) return false;
  wanted_.onPipe = true;
  return true;
}

std::unique_ptr<DiscordConnection> DiscordPresence::Connect(const std::string& clientId) {
  std::unique_ptr<DiscordConnection> pipe = pipes_.Open();
  if (!pipe) {
    if (!std::exchange(saidNotRunning_, true))
      LogDebug(
          "Discord: Discord is not running (no pipe discord-ipc-0 to 9 opens); the presence is sent "
          "once it starts");
    return nullptr;
  }
  saidNotRunning_ = false;
  if (!pipe->Send(EncodeDiscordFrame(kHandshake, DiscordHandshake(clientId)))) return nullptr;
  for (;;) {
    DiscordFrame frame;
    switch (pipe->Receive(frame, DiscordConnection::kNoLimit)) {
      case DiscordConnection::Read::Woken: {
        const std::lock_guard<HandOffMutex> hold(lock_);
        if (wanted_.stopping) return nullptr;
        continue;
      }
      case DiscordConnection::Read::Broken:
        LogDebug("Discord: Discord closed the pipe during the handshake");
        return nullptr;
      case DiscordConnection::Read::Frame:
        break;
    }
    if (frame.opcode == kFrame) {
      const json answer = json::parse(frame.json, nullptr, false);
      if (answer.is_object() && Field(answer, "evt") == "READY") {
        LogDebug("Discord: connected");
        return pipe;
      }
    }
    if (!Handle(*pipe, frame)) return nullptr;
  }
}

bool DiscordPresence::Handle(DiscordConnection& pipe, const DiscordFrame& frame) {
  if (frame.opcode == kPing) return pipe.Send(EncodeDiscordFrame(kPong, frame.json));
  const json answer = json::parse(frame.json, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    LogDebug("Discord: ignored an answer that is not a JSON object");
    return frame.opcode != kClose;
  }
  if (frame.opcode == kClose) {
    LogDebug("Discord: Discord closed the connection (code " + Field(answer, "code") + ": " +
             Field(answer, "message") + ")");
    return false;
  }
  if (frame.opcode != kFrame) return true;
  if (!inFlight_.empty() && Field(answer, "nonce") == inFlight_) inFlight_.clear();
  if (Field(answer, "evt") == "ERROR") {
    const auto data = answer.find("data");
    const json none = json::object();
    const json& details = data != answer.end() && data->is_object() ? *data : none;
    LogDebug("Discord: Discord refused " + Field(answer, "cmd") + " (code " + Field(details, "code") + ": " +
             Field(details, "message") + ")");
  }
  return true;
}
