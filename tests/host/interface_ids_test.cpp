// Every interface and class identifier the plug-in answers, held against its registry text as
// hosts know it (typed here, not derived from the constants under test).
#include <gtest/gtest.h>

#include "automation/safe_array.h"
#include "base/global_id.h"
#include "base/root_object.h"
#include "devices/device_item.h"
#include "devices/model_list.h"
#include "vestrel/plugin_abi.h"

TEST(InterfaceIds, MatchTheTextsHostsUse) {
  const struct {
    const GUID& Id;
    const char* Text;
  } ids[] = {
      {IID_IPluginControl, "{5840E4CB-F596-489A-BCD0-66F4D4311253}"},
      {IID_IBaseDllObj, "{07573EC1-327D-47C7-8B5F-13C6298FBC2F}"},
      {IID_IDllObjMembers, "{BAB8C117-CADF-4C73-9B2D-B042D637A748}"},
      {IID_ISafeArray, "{C71ED758-08C7-4ACB-9497-120FDBCFDD21}"},
      {IID_IRootObject, "{7C2F5833-8F25-4298-B7DE-C8CBAFB80F53}"},
      {IID_IRootInterface, "{0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}"},
      {IID_IDeviceItem, "{B911C0BF-C46E-4916-A7D7-5AB5CE9598E5}"},
      {IID_IModelPluItem, "{70231714-9996-413C-BFBB-F504227138B8}"},
      {IID_IModelPluItem2, "{D8EB2570-D5AB-4357-86E6-6064DBDD7523}"},
      {ParsecModelRecord().ClassId, "{4F739246-8166-4CE3-8977-8CA2E7D36E62}"},
  };
  for (const auto& [id, text] : ids) EXPECT_EQ(Utf8FromWide(GlobalIdToStr(id)), text);
}
