#include "config/ui_text.hpp"

#include <string>
#include <utility>

namespace tapfix::config {
namespace {

// The machines this build's programs run on, as the compatibility line names them.
#if defined(__x86_64__)
#define TAPFIX_MACHINE_EN "64-bit PC (amd64)"
#define TAPFIX_MACHINE_RU "64-битный ПК (amd64)"
#elif defined(__aarch64__)
#define TAPFIX_MACHINE_EN "64-bit ARM (arm64)"
#define TAPFIX_MACHINE_RU "64-битный ARM (arm64)"
#else
#define TAPFIX_MACHINE_EN "this computer"
#define TAPFIX_MACHINE_RU "этот компьютер"
#endif

constexpr std::pair<int, std::string_view> kTable[] = {
    // The Windows versions the window once named mean nothing here: the line names the
    // systems this build runs on.
    {102,
     "This update tool is compatible with Linux: Debian 12 and later, on a " TAPFIX_MACHINE_EN "."},
    {103, "Программа обновления совместима с Linux: Debian 12 и новее, " TAPFIX_MACHINE_RU "."},
    {104, "Follow these steps to update your Mobile WiFi:"},
    {105, "Выполните следующие действия, чтобы обновить программное обеспечение Wi-Fi роутера:"},
    {106, "1.Turn on your Mobile WiFi."},
    {107, "1. Включите  Wi-Fi роутер."},
    {108, "2.Insert the Mobile WiFi into the USB interface of the computer using the data cable."},
    {109, "2. Подключите роутер к USB-порту ПК с помощью кабеля."},
    {110, "3.Wait until the tool detects the modem and the \"Update\" button becomes available."},
    {111, "3. Подождите, пока устройство будет обнаружено и кнопка \"Загрузка\" станет доступна."},
    {112, "4.Click the \"Update\" button to start the update."},
    {113, "4. Для запуска процесса обновления необходимо нажать кнопку \"Загрузка\"."},
    {114,
     "Do not switch off your computer or start any other applications until the update is "
     "complete."},
    {115,
     "Не выключайте компьютер и не запускайте другие приложения до окончания процесса "
     "обновления."},
    {116, "Make sure the computer is connected to power supply."},
    {117, "Убедитесь, что компьютер подключен к электросети."},
    {118, "The update will fail if your computer goes to sleep during the update."},
    {119, "Процесс обновления прервётся, если компьютер переключится в спящий режим."},
    {120, "Do not insert or remove any USB devices until the update is complete."},
    {121,
     "Не подключайте и не отключайте другие USB-устройства от компьютера до окончания "
     "процесса обновления."},
    {122, "The update should take approximately 10 minutes to complete."},
    {123, "Процесс обновления займет около 10 минут."},
    {124, "Port Information:"},
    {125, "Номер порта:"},
    {126, "Current Version:"},
    {127, "Текущая версия:"},
    {128, "Progress:"},
    {129, "Статус:"},
    {130, "Update"},
    {131, "Загрузка"},
    {134, "Searching…"},
    {135, "Поиск…"},
    {136, "Downloading…"},
    {137, "Обновление…"},
    {151, "Still running. Can not exit"},
    {152, "Обновление не завершено, нельзя закрыть программу."},
    {159, "Ready. Now click the \"Update\" button to start the update."},
    {160, "Готово. Необходимо нажать кнопку \"Загрузка\" для запуска процесса обновления."},
    {161, "The version is not matching, can not be updated."},
    {162,
     "Не соответствие версии ПО роутера, запрещено использование данной программы "
     "обновления."},
    {165, "Incorrect IMEI, can not be updated."},
    {166, "Неправильный IMEI, запрещено использование данной программы обновления."},
    {175, "Download failed, please download again."},
    {176,
     "Возникла ошибка в процессе обновления. Пожалуйста, попробуйте запустить обновление "
     "ещё раз."},
    // The kernel's drivers serve the router: it only needs to be plugged in again.
    {179, "Update successfully!  Please unplug the device and plug it in again."},
    {180, "Обновление выполнено успешно! Пожалуйста, переподключите роутер к компьютеру."},
    {kTextEnglishName, "English"},
    {kTextRussianName, "Russian"},
    {kTextCaption, "DL_QX17_NRD_RU_EUV1.00.00"},
    {184,
     "This computer cannot recognized your USB device. To correct the problem please unplug "
     "the USB device and re-plug it again to the computer."},
    {185,
     "Не удается распознать USB-устройство. Чтобы исправить данную проблему, пожалуйста, "
     "отключите USB-устройство и снова подключите его к ПК."},
    // Saved data and whose it is.
    {200,
     "Nothing was written: no saved data was confirmed to be this router's. Start again to "
     "confirm its copy, or use tapfix-cli --resume IMEI."},
    {201,
     "Ничего не записано: ни одна сохранённая копия не подтверждена как данные этого роутера. "
     "Запустите программу снова и подтвердите его копию или используйте "
     "tapfix-cli --resume IMEI."},
    {202,
     "This router's firmware update was interrupted, and its data was not saved in this work "
     "folder. Start the updater with the work folder of the interrupted update (--work-dir)."},
    {203,
     "Обновление ПО этого роутера было прервано, и его данные не сохранены в этой рабочей "
     "папке. Запустите программу обновления с рабочей папкой прерванного обновления "
     "(--work-dir)."},
    {204,
     "Write back the data saved from the router with IMEI %s on %s? Only say yes if this is the "
     "same router."},
    {205,
     "Записать обратно данные, сохранённые с роутера с IMEI %s %s? Отвечайте утвердительно, "
     "только если это тот же роутер."},
    {206, " The copy is incomplete."},
    {207, " Копия неполная."},
    {208,
     "This router has the USB serial number of the router with IMEI %s: the data saved from it "
     "on %s is written back."},
    {209,
     "У этого роутера серийный номер USB роутера с IMEI %s: его данные, сохранённые %s, "
     "записываются обратно."},
    {210,
     "This router is in the USB port of the router with IMEI %s, whose data saved on %s is the "
     "only copy here: it is written back."},
    {211,
     "Этот роутер подключён к USB-порту роутера с IMEI %s, чьи данные, сохранённые %s, — "
     "единственная копия здесь: они записываются обратно."},
    {212,
     "The restore of the data saved from this router (IMEI %s) on %s did not complete: it is "
     "finished now."},
    {213,
     "Восстановление данных этого роутера (IMEI %s), сохранённых %s, не было завершено: оно "
     "завершается сейчас."},
    {214, "The data saved from the router with IMEI %s on %s is written back, as --resume asked."},
    {215,
     "Данные роутера с IMEI %s, сохранённые %s, записываются обратно, как указано в --resume."},
    {216, "The data saved from the router with IMEI %s on %s is written back, as you confirmed."},
    {217, "Данные роутера с IMEI %s, сохранённые %s, записываются обратно, как вы подтвердили."},
    // The backup tools.
    {218, "This backup belongs to another router (another IMEI): nothing was written."},
    {219, "Эта резервная копия принадлежит другому роутеру (другой IMEI): ничего не записано."},
    {220, "The backup is done; nothing was written to the router."},
    {221, "Резервная копия создана; в роутер ничего не записано."},
    {222, "The backup was written back to the router."},
    {223, "Резервная копия записана обратно в роутер."},
    {224, "The backup failed; nothing was written to the router."},
    {225, "Не удалось создать резервную копию; в роутер ничего не записано."},
    {226, "Writing the backup back failed; the backup itself is unchanged."},
    {227, "Не удалось записать резервную копию обратно; сама копия не изменена."},
    {228,
     "The backup of the router with IMEI %s is in %s: %s NV items, %s EFS files, Wi-Fi MAC %s."},
    {229,
     "Резервная копия роутера с IMEI %s находится в %s: NV-параметров %s, файлов EFS %s, "
     "MAC-адрес Wi-Fi %s."},
    {230, "This router has no firmware: update it, and its data comes back with the update."},
    {231, "У этого роутера нет ПО: обновите его, и его данные вернутся вместе с обновлением."},
    {232, "The router does not say whose it is: nothing was written."},
    {233, "Роутер не сообщает, чей он: ничего не записано."},
    {234, "No such backup: %s"},
    {235, "Нет такой резервной копии: %s"},
    {236, "The backup of the router with IMEI %s from %s is written back."},
    {237, "Резервная копия роутера с IMEI %s от %s записывается обратно."},
    {238,
     "This router's last restore did not finish: start the update to write its data back "
     "first."},
    {239,
     "Последнее восстановление данных этого роутера не завершено: сначала запустите "
     "обновление, чтобы вернуть его данные."},
    {254,
     "The router waits in its download mode and does not answer: unplug it, plug it in again "
     "and start the update again. Its saved data stays in the work folder."},
    {255,
     "Роутер ждёт в режиме загрузки и не отвечает: отключите его, подключите снова и "
     "запустите обновление ещё раз. Его сохранённые данные остаются в рабочей папке."},
    // Why the router's port cannot be opened, in the hint line; "%s" is filled in order.
    {kTextPortHeldByModemManager,
     "The router's port is held by ModemManager (pid %s). Stop it: sudo systemctl stop "
     "ModemManager"},
    {kTextPortHeldByModemManager + 1,
     "Порт роутера занят ModemManager (pid %s). Остановите его: sudo systemctl stop "
     "ModemManager"},
    {kTextPortHeld, "The router's port is held by %s (pid %s). Close that program."},
    {kTextPortHeld + 1, "Порт роутера занят программой %s (pid %s). Закройте её."},
    {kTextPortInUse,
     "The router's port is in use by another program (ModemManager, if it runs: sudo "
     "systemctl stop ModemManager)"},
    {kTextPortInUse + 1,
     "Порт роутера используется другой программой (если запущен ModemManager: sudo systemctl "
     "stop ModemManager)"},
    {kTextPortPermission,
     "Permission denied: add yourself to the dialout group, or install the udev rules"},
    {kTextPortPermission + 1,
     "Нет доступа к порту: добавьте себя в группу dialout или установите правила udev"},
    {kTextPortCannotOpen, "The router's port cannot be opened: %s"},
    {kTextPortCannotOpen + 1, "Не удаётся открыть порт роутера: %s"},
    {kTextRestarting, "Restarting the router…"},
    {kTextRestarting + 1, "Перезапуск роутера…"},
    {kTextSharedWorkFolder, "%s can be read by others: the update keeps its files in %s"},
    {kTextSharedWorkFolder + 1,
     "Папку %s могут читать другие пользователи: файлы обновления хранятся в %s"},
};

}  // namespace

std::string_view UiText(int id) {
    for (const auto& [entryId, text] : kTable) {
        if (entryId == id) {
            return text;
        }
    }
    return {};
}

std::string_view LoadUiText(int englishId, int russianId, bool english) {
    return UiText(english ? englishId : russianId);
}

std::string FillText(std::string_view text, std::initializer_list<std::string_view> values) {
    std::string filled;
    auto value = values.begin();
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t mark = text.find("%s", at);
        filled += text.substr(at, mark - at);
        if (mark == std::string_view::npos) {
            break;
        }
        filled += value != values.end() ? *value++ : std::string_view();
        at = mark + 2;
    }
    return filled;
}

}  // namespace tapfix::config
