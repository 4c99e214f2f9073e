#include "publish/mirc.h"

#include <cstdio>

#include "track/subtags.h"

namespace {

std::string Blanked(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return text;
}

}  // namespace

std::string CommandSafeTags::Tag(const std::string& fileName, const std::string& name) {
  return Blanked(inner_.Tag(fileName, name));
}

std::string MircCommand(TagSource& tags, const TTrackMetaData& track, const std::string& commandTemplate) {
  CommandSafeTags safe(tags);
  bool usedFileName = false;
  std::string command = SubTags(safe, track, commandTemplate, false, &usedFileName);
  // The fall-back drops the template, so nothing of the command is the user's own text then.
  return usedFileName ? Blanked(std::move(command)) : command;
}

void mIRCSendCommand(MircLink& link, TagSource& tags, const TTrackMetaData& track, const std::string& service,
                     const std::string& commandTemplate) {
  const std::unique_ptr<MircConversation> conversation = link.Connect(service);
  const std::string command = MircCommand(tags, track, commandTemplate);
  if (conversation && conversation->Connected()) conversation->Poke(command);
}

std::string DdeInitErrorText(unsigned code) {
  const char* format = "An error returned from DDE  ($0%X)";
  if (code == 0x4007 || code == 0x4008)
    format = "Error occurred when DDE ran out of memory ($0%X)";
  else if (code == 0x400A)
    format = "DDE Error - conversation not established ($0%X)";
  char text[80];
  std::snprintf(text, sizeof text, format, code);
  return text;
}
