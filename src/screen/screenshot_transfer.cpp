#include "screen/screenshot_transfer.h"

#include "link/command_frame.h"

bool IsEmptyScreenshotSlot(std::uint8_t firstInfoValue) {
  return firstInfoValue < 19 || firstInfoValue == 255;
}

ScreenshotFetch FetchScreenshot(MeterLine& line, int slot) {
  using Outcome = ScreenshotFetch::Outcome;
  ScreenshotFetch fetch;
  const std::uint64_t connection = line.Connection();
  const ExchangeResult info =
      line.Exchange(connection, ScreenshotInfoFrame(slot), kScreenshotInfoRule);
  if (info.end != ExchangeEnd::kReply) {
    if (info.end == ExchangeEnd::kLineLost) fetch.outcome = Outcome::kLineLost;
    return fetch;
  }
  fetch.info = info.reply;
  if (IsEmptyScreenshotSlot(static_cast<std::uint8_t>(info.reply[0]))) {
    fetch.outcome = Outcome::kEmptySlot;
    return fetch;
  }
  const ExchangeResult image =
      line.Exchange(connection, ScreenshotImageFrame(slot), kScreenshotImageRule);
  if (image.end != ExchangeEnd::kReply) {
    fetch.outcome = image.end == ExchangeEnd::kLineLost ? Outcome::kLineLost : Outcome::kNoImage;
    return fetch;
  }
  fetch.outcome = Outcome::kImage;
  fetch.image = image.reply.substr(0, image.reply.size() - 1);
  return fetch;
}
