// Stand-in for Discord's local RPC: a pipe server on \\.\pipe\discord-ipc-0 that records every
// frame it receives as "discord: op=N JSON" in RECORD ("-" for standard output), answers the handshake with
// READY (or, for the client ID given after --refuse, with a close frame), answers each command, and sends a
// ping after READY so the client's pong shows up too.
//   discord_standin.exe RECORD [--refuse CLIENT_ID]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace {

FILE* record = nullptr;

void Record(const std::string& line) {
  std::fprintf(record, "%s\n", line.c_str());
  std::fflush(record);
}

bool ReadAll(HANDLE pipe, void* into, DWORD size) {
  auto* at = static_cast<char*>(into);
  while (size > 0) {
    DWORD got = 0;
    if (!ReadFile(pipe, at, size, &got, nullptr) || got == 0) return false;
    at += got;
    size -= got;
  }
  return true;
}

bool Send(HANDLE pipe, std::uint32_t opcode, const std::string& json) {
  std::string frame(8, '\0');
  const std::uint32_t length = static_cast<std::uint32_t>(json.size());
  for (int i = 0; i < 4; ++i) {
    frame[i] = static_cast<char>(opcode >> (8 * i));
    frame[4 + i] = static_cast<char>(length >> (8 * i));
  }
  frame += json;
  DWORD written = 0;
  return WriteFile(pipe, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr);
}

void Serve(HANDLE pipe, const std::string& refused) {
  for (;;) {
    std::uint32_t header[2];
    if (!ReadAll(pipe, header, sizeof header)) return;
    std::string json(header[1], '\0');
    if (header[1] > 0 && !ReadAll(pipe, json.data(), header[1])) return;
    Record("discord: op=" + std::to_string(header[0]) + " " + json);
    const nlohmann::json message = nlohmann::json::parse(json, nullptr, false);
    if (header[0] == 0) {
      if (message.is_object() && message.value("client_id", std::string()) == refused) {
        Send(pipe, 2, R"({"code":4000,"message":"Invalid Client ID"})");
        return;
      }
      Send(pipe, 1, R"({"cmd":"DISPATCH","data":{"v":1},"evt":"READY","nonce":null})");
      Send(pipe, 3, R"({"ping":1})");
    } else if (header[0] == 1 && message.is_object()) {
      Send(pipe, 1,
           nlohmann::json{{"cmd", message.value("cmd", std::string())},
                          {"data", nullptr},
                          {"evt", nullptr},
                          {"nonce", message.value("nonce", nlohmann::json())}}
               .dump());
    } else if (header[0] == 2) {
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  record = std::string(argv[1]) == "-" ? stdout : std::fopen(argv[1], "a");
  if (!record) return 2;
  const std::string refused = argc >= 4 && std::string(argv[2]) == "--refuse" ? argv[3] : "";
  for (;;) {
    const HANDLE pipe =
        CreateNamedPipeW(L"\\\\.\\pipe\\discord-ipc-0", PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    Record("discord: listening");
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      Record("discord: connected");
      Serve(pipe, refused);
      Record("discord: disconnected");
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
  }
}
