#include "firmware/FirmwareImageClass.h"
#include "Expected.h"

#include <gtest/gtest.h>

TEST (FirmwareImageClass, EmbeddedRecordNamesItsImageAndVersionUntilThePanelRenamesIt)
{
    FirmwareImageClass record;

    EXPECT_EQ (record.getName(), "Kelvane");
    EXPECT_EQ (record.getVersion(), Expected::text ("product.firmwareVersion"));
    EXPECT_EQ (record.revision, 0);
    EXPECT_EQ (record.fixedPacing, 0);
    EXPECT_NE (record.streamData, nullptr);
    EXPECT_EQ (record.streamSize, 12'259'620);

    const auto product = Expected::text ("product.name");
    record.setName (product);
    EXPECT_EQ (record.getName(), product);
    EXPECT_EQ (record.name, product);
}

TEST (FirmwareImageClass, GeneralConstructorHasNoStream)
{
    FirmwareImageClass record ("Other", "2.0", 7);

    EXPECT_EQ (record.getName(), "Other");
    EXPECT_EQ (record.getVersion(), "2.0");
    EXPECT_EQ (record.revision, 7);
    EXPECT_EQ (record.streamData, nullptr);
    EXPECT_EQ (record.streamSize, 0);
    EXPECT_EQ (record.fixedPacing, 0);
}
