#include "firmware/FirmwareImageClass.h"

#include <gtest/gtest.h>

TEST (FirmwareImageClass, EmbeddedRecordNamesItsImageAndVersionUntilThePanelRenamesIt)
{
    FirmwareImageClass record;

    EXPECT_EQ (record.getName(), "Kelvane");
    EXPECT_EQ (record.getVersion(), "1.3.00 Build 89");
    EXPECT_EQ (record.revision, 0);
    EXPECT_EQ (record.fixedPacing, 0);
    EXPECT_NE (record.streamData, nullptr);
    EXPECT_EQ (record.streamSize, 12'259'620);

    record.setName ("Quillet Q7");
    EXPECT_EQ (record.getName(), "Quillet Q7");
    EXPECT_EQ (record.name, "Quillet Q7");
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
