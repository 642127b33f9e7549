#include "png/PngMessages.h"

namespace {

struct TMessageEntry {
  TPngMessage Id;
  const char* Text;
};

// The texts stand as users have always seen them, spelling included.
constexpr TMessageEntry Messages[] = {
    {TPngMessage::InvalidFileHeader,
     "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an "
     "invalid header. This file may be corruped, try obtaining it again."},
    {TPngMessage::IHDRNotFirst,
     "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n"
     "(IHDR chunk is not the first)"},
    {TPngMessage::SizeExceeds,
     "This \"Portable Network Graphics\" image is not supported because either it's width or height "
     "exceeds the maximum size, which is 65535 pixels length."},
    {TPngMessage::InvalidPalette, "The \"Portable Network Graphics\" image contains an invalid palette."},
    {TPngMessage::UnknownCriticalChunk,
     "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
     "decoded."},
    {TPngMessage::UnknownCompression,
     "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which "
     "could not be decoded."},
    {TPngMessage::UnknownInterlace,
     "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
     "decoded."},
    {TPngMessage::CannotAssignChunk, "The chunks must be compatible to be assigned."},
    {TPngMessage::UnexpectedEnd,
     "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end "
     "of the file."},
    {TPngMessage::NoImageData, "This \"Portable Network Graphics\" image contains no data."},
    {TPngMessage::CouldNotLoadResource, "The png image could not be loaded from the resource ID."},
    {TPngMessage::OutMemory,
     "Some operation could not be performed because the system is out of resources. Close some "
     "windows and try again."},
    {TPngMessage::HeaderNotPresent,
     "This operation is not valid because the current image contains no valid header."},
    {TPngMessage::InvalidNewSize, "The new size provided for image resizing is invalid."},
    {TPngMessage::InvalidCRC,
     "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data "
     "(crc error)"},
    {TPngMessage::InvalidIHDR,
     "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
     "data (ihdr) might be corrupted"},
    {TPngMessage::MissingMultipleIDAT,
     "This \"Portable Network Graphics\" image is invalid because it has missing image parts."},
    {TPngMessage::ZLIBError,
     "Could not decompress the image because it contains invalid compressed data.\r\n Description: "},
    {TPngMessage::NoSuchPaletteEntry, "There is no such palette entry."},
};

}  // namespace

const char* PngMessage(TPngMessage Id) {
  for (const auto& M : Messages)
    if (M.Id == Id) return M.Text;
  return "";
}
