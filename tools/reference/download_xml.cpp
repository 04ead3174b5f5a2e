#include "reference/download_xml.hpp"

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

namespace tapfix::reference {
namespace {

std::string Join(const std::vector<int>& numbers) {
    std::string text;
    for (int number : numbers) {
        text += (text.empty() ? "" : ",") + std::to_string(number);
    }
    return text;
}

// `count` numbers start, start + step, ... that are not in `used`; each taken is added to it.
std::vector<int> Fill(std::set<int>& used, int start, int step, std::size_t count) {
    std::vector<int> numbers;
    for (int value = start; numbers.size() < count; value += step) {
        if (used.insert(value).second) {
            numbers.push_back(value);
        }
    }
    return numbers;
}

// 677 numbers, 655 distinct (22 twice), from 22 to 7226.
std::vector<int> RfNvNumbers() {
    const std::vector<int> head = {6700, 6705, 6735, 6736, 6737, 6747};
    const std::vector<int> tail = {4212, 543, 6861, 22};
    std::set<int> used(head.begin(), head.end());
    used.insert(tail.begin(), tail.end());
    used.insert(7226);
    std::vector<int> middle = Fill(used, 25, 11, 644);
    middle.insert(middle.begin() + 300, 7226);
    std::vector<int> numbers = head;
    numbers.insert(numbers.end(), middle.begin(), middle.end());
    for (std::size_t i = 0; i < 22; ++i) {
        numbers.push_back(middle[i * 29]);
    }
    numbers.insert(numbers.end(), tail.begin(), tail.end());
    return numbers;
}

// 299 distinct numbers from 20085 to 25015.
std::vector<int> EfsRfNvNumbers() {
    const std::vector<int> head = {20207, 20208, 22957, 20219};
    const std::vector<int> tail = {22946, 22982, 23764};
    std::set<int> used(head.begin(), head.end());
    used.insert(tail.begin(), tail.end());
    used.insert({20085, 25015});
    std::vector<int> numbers = head;
    numbers.push_back(25015);
    const std::vector<int> middle = Fill(used, 20090, 16, 290);
    numbers.insert(numbers.end(), middle.begin(), middle.end());
    numbers.push_back(20085);
    numbers.insert(numbers.end(), tail.begin(), tail.end());
    return numbers;
}

std::vector<int> LockNvNumbers() {
    std::vector<int> numbers(29);
    for (int i = 0; i < 29; ++i) {
        numbers[static_cast<std::size_t>(i)] = 8000 + i;
    }
    return numbers;
}

constexpr std::string_view kOver6w =
    "67300,nv/item_files/mcs/tcxomgr/field_cal_params;"
    "67301,nv/item_files/mcs/tcxomgr/ft_table;"
    "67294,nv/item_files/mcs/tcxomgr/ifc_version;"
    "67295,nv/item_files/mcs/tcxomgr/ifc_c1_filter;"
    "67296,nv/item_files/mcs/tcxomgr/ifc_c1_history;"
    "65822,nv/item_files/mcs/tcxomgr/field_cal_version;"
    "65823,nv/item_files/mcs/tcxomgr/factory_cal_version;"
    "70209,nv/item_files/mcs/tcxomgr/field_aging_data;"
    "67230,nv/item_files/mcs/tcxomgr/tcxo_mode;"
    "90000,nv/item_files/mcs/tcxomgr/xo_factory_cal_debug;"
    "90001,nv/item_files/conf/mcs_tcxomgr.conf;"
    "90002,nv/item_files/mcs/tcxomgr/xo_factory_cal_data";

constexpr std::string_view kFileList =
    "rpm.mbn,0x0e,0,4,1,0:RPM;"
    "sbl1.mbn,0x0e,0,4,1,0:SBL1;"
    "sbl2.mbn,0x0e,0,4,1,0:SBL2;"
    "dsp1.mbn,0x0e,0,4,1,0:DSP1;"
    "dsp2.mbn,0x0e,0,4,1,0:DSP2;"
    "appsboot.mbn,0x0e,0,4,1,0:APPSBL;"
    "9615-cdp-image-9615-cdp.yaffs2,0x0e,0,4,1,0:SYSTEM;"
    "9615-cdp-usr-image.usrfs.yaffs2,0x0e,0,4,1,0:USERDATA;"
    "9615-cdp-qvodata-image.usrfs.yaffs2,0x0e,0,4,1,0:QVODATA;"
    "efs.mbn,0x0e,0,4,1,0:EFS2;"
    "9615-cdp-recovery-image-9615-cdp.yaffs2,0x0e,0,4,1,0:RECOVERYFS;"
    "recovery-boot-oe-msm9615.img,0x0e,0,4,1,0:RECOVERY;"
    "boot-oe-msm9615.img,0x0e,0,4,1,0:APPS";

constexpr std::string_view kUrgentList =
    "rpm.mbn,0x0e,0,0,1,0:RPM;sbl1.mbn,0x0e,0,0,1,0:SBL1;sbl2.mbn,0x0e,0,0,1,0:SBL2";

class XmlWriter {
  public:
    void Line(int depth, std::string_view text) {
        text_.append(static_cast<std::size_t>(depth), '\t');
        text_ += text;
        text_ += "\r\n";
    }
    void Item(std::string_view name, std::string_view value) {
        Line(2,
             "<" + std::string(name) + ">" + std::string(value) + "</" + std::string(name) + ">");
    }
    void Comment(std::string_view text) { Line(2, "//" + std::string(text)); }
    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

void WriteSettings(XmlWriter& xml, bool sahara) {
    xml.Line(1, "<DOWNLOADBL>");
    xml.Item("ITEM_MODE", "0");
    xml.Comment("Action Selection");
    xml.Item("ITEM_NVOPTION", "2");
    xml.Comment("0-NoBackup; 1-RF; 2-All;");
    xml.Item("ITEM_VERSIONFILE_PATH", "");
    xml.Item("ITEM_NVFILE_PATH", "");
    xml.Item("ITEM_SAVELOCKDATA", "1");
    xml.Item("ITEM_DVBH_Certificatioin", "0");
    xml.Item("ITEM_COMMONNV", "550,23,52,4678,1943");
    xml.Item("ITEM_RFNV", Join(RfNvNumbers()));
    xml.Item("ITEM_LOCKNV", Join(LockNvNumbers()));
    xml.Item("ITEM_EFSNV_PATH", "/nv/item_files/rfnv/");
    xml.Item("ITEM_EFS_RFNV", Join(EfsRfNvNumbers()));
    xml.Item("ITEM_EFS_RFNV_OVER6W", kOver6w);
    xml.Item("ITEM_CHECKDOWNLOADMODE", "0");
    xml.Item("ITEM_Autorun_sub_ID", "161");
    xml.Item("ITEM_Certificatioin_sub_ID", "207");
    xml.Item("ITEM_DVBH_EFS_PATH", "brew/mod/cmla/");
    xml.Item("ITEM_DL_armprg", "armprg.bin");
    if (sahara) {
        xml.Item("ITEM_DL_armprg_type_Sahara", "1");
    }
    xml.Item("ITEM_DL_armprgblp", "narmprg.bin");
    xml.Item("ITEM_HSUSB", "1");
    xml.Comment("USB2.0");
    xml.Item("ITEM_trustmode", "1");
    xml.Item("ITEM_PartitionDL", "1");
    xml.Item("ITEM_DOWNLOAD_FILElIST", kFileList);
    xml.Comment("0--Normal;1--StreamAsy;2--HIGHSPEED_QSC;3--HIGHSPEED_MDM;4--CHECKSUMDL");
    xml.Item("ITEM_DOWNLOAD_OPTION_FILELIST", "");
    xml.Item("ITEM_DOWNLOAD_URGFLIELIST", kUrgentList);
    xml.Item("ITEM_ERASE_EFS", "0");
    xml.Item("ITEM_RESET_AFTER_DL", "1");
    xml.Item("ITEM_CHECK_SECURITY", "0");
    xml.Item("ITEM_READ_WIFIMAC_DIAGCMD", "3");
    xml.Item("ITEM_UFI", "1");
    xml.Line(1, "</DOWNLOADBL>");
}

}  // namespace

std::string PackageDownloadXml(bool sahara) {
    XmlWriter xml;
    xml.Line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    xml.Line(0, "<phone name=\"DL_QX17_NRD_RU_EU\" version=\"1.00.00\">");
    xml.Line(1, "<INFORMATION>");
    xml.Item("ITEM_PRODUCT", "MDM9x15 Mobile WiFi");
    xml.Item("ITEM_VENDOR", "Reference &amp; Test");
    xml.Line(1, "</INFORMATION>");
    xml.Line(1, "<PLUGINLIST>");
    xml.Line(2, "<PLUGIN name=\"download\" file=\"download.so\"/>");
    xml.Line(1, "</PLUGINLIST>");
    WriteSettings(xml, sahara);
    xml.Line(1, "<DOWNLOADUI>");
    xml.Comment("0-English; 1-Russian");
    xml.Item("ITEM_LANGUAGE", "1");
    xml.Line(1, "</DOWNLOADUI>");
    xml.Line(0, "</phone>");
    return xml.Take();
}

}  // namespace tapfix::reference
