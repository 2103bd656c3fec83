// Request arithmetic and the host record's rectangles.
#include <gtest/gtest.h>

#include "base/Error.h"
#include "exchange/HostTransfer.h"

namespace {

TEST(HostTransferTest, ChunksCoverEveryWidthExactlyOnce) {
  for (uint32_t length : {1u, 7u, 1000u}) {
    for (uint32_t width : {1u, 2u, 999u, 1000u, 1001u, 2000u, 2500u, 40000u}) {
      const uint32_t chunks = GetChunksPerRow(width, length);
      uint32_t next = 0;
      for (uint32_t c = 0; c < chunks; ++c) {
        TransferRequest q;
        SetRowChunk(q, c, length, width, 5, 0, 3);
        ASSERT_EQ(static_cast<uint32_t>(q.left), next);
        ASSERT_GT(q.right, q.left);
        ASSERT_LE(static_cast<uint32_t>(q.right - q.left), length);
        ASSERT_EQ(GetPixelCount(q), static_cast<uint32_t>(q.right - q.left));
        next = static_cast<uint32_t>(q.right);
      }
      EXPECT_EQ(next, width) << width << " by " << length;
    }
  }
}

TEST(HostTransferTest, RowChunkShapeAndPlanes) {
  TransferRequest q;
  SetRowChunk(q, 2, 1000, 2500, 7, 0, 3);
  EXPECT_EQ(q.top, 7);
  EXPECT_EQ(q.bottom, 8);
  EXPECT_EQ(q.left, 2000);
  EXPECT_EQ(q.right, 2500);
  EXPECT_EQ(q.loPlane, 0);
  EXPECT_EQ(q.hiPlane, 2);
  SetRowChunk(q, 0, 1000, 10, 0, 0, 1);
  EXPECT_EQ(q.hiPlane, 0);
  SetRowChunk(q, 0, 1000, 10, 0, -5, 0);  // planes clamped into range
  EXPECT_EQ(q.loPlane, 0);
  EXPECT_EQ(q.hiPlane, 0);
  SetRowChunk(q, 0xFFFFFFFFu, 1000, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 3);
  EXPECT_EQ(q.left, 0x7FFFFFFF);  // capped, never negative
  EXPECT_EQ(q.top, 0x7FFFFFFF);
  EXPECT_EQ(q.bottom, 0x7FFFFFFF);
}

TEST(HostTransferTest, PixelCountOnlyForOneRow) {
  TransferRequest q;
  q.top = 3;
  q.bottom = 5;
  q.right = 10;
  EXPECT_EQ(GetPixelCount(q), 0u);
  q.bottom = 4;
  EXPECT_EQ(GetPixelCount(q), 10u);
  q.left = 20;
  EXPECT_EQ(GetPixelCount(q), 0u);
  q.top = -1;
  q.bottom = 1;
  q.left = -4;
  q.right = 4;
  EXPECT_EQ(GetPixelCount(q), 4u);  // negatives raised to 0 first
}

TEST(HostTransferTest, RectanglesGoTo32BitFieldsOnlyWhenAnnounced) {
  host::FilterRecord record{};
  host::BigDocumentStruct big{};
  const HostRect rect{1, 2, 70000, 40000};
  SetInRect(&record, rect);
  EXPECT_EQ(record.inRect.bottom, static_cast<int16_t>(70000 & 0xFFFF));
  EXPECT_EQ(record.inRect.right, static_cast<int16_t>(40000));

  record.bigDocumentData = &big;
  SetOutRect(&record, rect);  // offered but not announced: still 16-bit
  EXPECT_EQ(record.outRect.left, 2);
  EXPECT_EQ(big.outRect32.right, 0);

  big.PluginUsing32BitCoordinates = 1;
  record.maskRect = {9, 9, 9, 9};
  SetMaskRect(&record, rect);
  EXPECT_EQ(big.maskRect32.bottom, 70000);
  EXPECT_EQ(big.maskRect32.right, 40000);
  EXPECT_EQ(record.maskRect.top, 9);
  EXPECT_THROW(SetInRect(nullptr, rect), EError);
}

TEST(HostTransferTest, ImageSizeFromEitherFieldRaisedToZero) {
  host::FilterRecord record{};
  record.imageSize = {-3, 500};
  int32_t height = -1, width = -1;
  GetImageSize(&record, height, width);
  EXPECT_EQ(height, 0);
  EXPECT_EQ(width, 500);
  host::BigDocumentStruct big{};
  big.imageSize32 = {100000, 40000};
  record.bigDocumentData = &big;
  GetImageSize(&record, height, width);
  EXPECT_EQ(width, 500);
  big.PluginUsing32BitCoordinates = 1;
  GetImageSize(&record, height, width);
  EXPECT_EQ(height, 100000);
  EXPECT_EQ(width, 40000);
  EXPECT_THROW(GetImageSize(nullptr, height, width), EError);
}

}  // namespace
