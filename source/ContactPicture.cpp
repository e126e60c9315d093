// The contact's picture: the attachment the entry flags as the contact's photo, with its type.
#include "source/FileContactEntry.h"

namespace lumivex::backend {

namespace {

// Attachments.
constexpr uint32_t kTagAttachDataBinary = 0x3701;
constexpr uint32_t kTagAttachMimeTag = 0x370E;
constexpr uint32_t kTagAttachmentContactPhoto = 0x7FFF;
constexpr int32_t kMessageFlagHasAttachments = 0x10;

// The MIME type of a picture, told from its first bytes; else the type stored with the
// attachment where it names an image; else empty.
QString PictureType(const QByteArray& data, const QString& stored) {
  if (data.startsWith("\xFF\xD8\xFF")) return QStringLiteral("image/jpeg");
  if (data.startsWith("\x89PNG\r\n\x1A\n")) return QStringLiteral("image/png");
  if (data.startsWith("GIF87a") || data.startsWith("GIF89a")) return QStringLiteral("image/gif");
  if (data.startsWith("BM")) return QStringLiteral("image/bmp");
  if (data.startsWith(QByteArrayView("II*\0", 4)) || data.startsWith(QByteArrayView("MM\0*", 4)))
    return QStringLiteral("image/tiff");
  if (data.startsWith("RIFF") && data.mid(8, 4) == "WEBP") return QStringLiteral("image/webp");
  const QString type = stored.trimmed().toLower();
  return type.startsWith(u"image/") ? type : QString();
}

}  // namespace

bool FileContactEntry::ReadPhoto(contact::Photo& photo, QString& why) const {
  int32_t flags = 0;
  const int flagsIndex = index_[kMessageFlags];
  if (flagsIndex >= 0 && item_->Int32(flagsIndex, flags) &&
      (flags & kMessageFlagHasAttachments) == 0)
    return true;  // the entry says it has no attachments: the table is not read
  const int count = item_->AttachmentCount();
  if (count < 0) {
    why = QStringLiteral("its attachments cannot be read; the entry is damaged");
    return false;
  }
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<storefile::StoreItem> attachment;
    try {
      attachment = item_->Attachment(i);
    } catch (const StoreError& error) {
      why = QStringLiteral("its attachment %1 cannot be read (%2)")
                .arg(i + 1)
                .arg(QString::fromUtf8(error.what()));
      return false;
    }
    const int flag = attachment->Find(kTagAttachmentContactPhoto);
    int32_t isPhoto = 0;
    if (flag < 0 || !attachment->Int16(flag, isPhoto) || isPhoto == 0) continue;
    const int data = attachment->Find(kTagAttachDataBinary);
    if (data < 0 || !attachment->Data(data, photo.data)) {
      why = QStringLiteral("its picture cannot be read; the attachment is damaged");
      return false;
    }
    photo.mimeType = PictureType(photo.data, attachment->Text(kTagAttachMimeTag, CodePage()));
    return true;
  }
  return true;
}

}  // namespace lumivex::backend
