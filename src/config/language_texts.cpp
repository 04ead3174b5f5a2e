#include "config/language_manager.hpp"

namespace tapfix::config {
namespace {

// Values that a caller continues with a name or number keep their trailing blank in quotes.
constexpr std::string_view kEnglish = R"(; Step texts of the download session, English.
[Download_String_Table]
ID_HINT_START=Update started
ID_HINT_THREAD="Slot "
ID_HINT_SW_OUTER=Software
ID_HINT_PC_OUTER=PC
ID_HINT_MAC_OUTER=MAC
ID_HINT_INTEGRATE=Build
ID_HINT_BACKUPNV=Backing up NV item
ID_HINT_RESTORENV=Restoring NV item
ID_HINT_SWITCHQUALDOWNMODE=Switching the device to download mode
ID_HINT_DOWNLOADARMPRG=Loading the flash programmer
ID_HINT_JUMPTOARMPRG=Starting the flash programmer
ID_HINT_SENDSECURITYCODE=Entering the security mode
ID_HINT_DOWNPARTITION=Writing the partition table
ID_HINT_DOWNSDPFILE="Writing image "
ID_HINT_RESETSDP=Restarting the device
ID_SUCCESS_BACKUPNV=NV items backed up
ID_SUCCESS_RESTORENV=NV items restored
ID_ERROR_FILEEXIT="Missing firmware file: "
ID_ERROR_NONEDOWNMODE=The device is not in download mode
ID_ERROR_SWITCHQUALDOWNMODE=Cannot switch the device to download mode
ID_ERROR_USBPORT=The device's port did not appear again
ID_ERROR_REPAIRCMD=The boot loader does not answer
ID_ERROR_DOWNLOADARMPRG=Cannot load the flash programmer
ID_ERROR_JUMPTOARMPRG=The flash programmer did not start
ID_ERROR_PORTERR=The flash programmer does not answer on the port
ID_ERROR_SENDSECURITYCODE=The device refused the security mode
ID_ERROR_DOWNPARTITION=Cannot write the partition table
ID_ERROR_OPENMULTI=The device refused to open the image
ID_ERROR_DOWNSDPFILE=the image was not written
ID_ERROR_HSDL=Cannot start the high-speed transfer
ID_ERROR_HANDSHAKE=The device is not ready for the next block
ID_ERROR_HSSENDDATA=Cannot send the data block
ID_ERROR_NORESPONSE=No answer from the device
ID_ERROR_CAL1=The device reported a write failure
ID_ERROR_CAL2=Checksum mismatch, sending the block again
ID_ERROR_CAL3=Checksum mismatch again, giving up
ID_ERROR_ADRESSRSP=The device did not confirm the written addresses
ID_ERROR_RESETSDP=The device did not come back after the restart
ID_ERROR_NOBARCODE=Cannot read the device's barcode
ID_ERROR_CREATENVPATH=The NV backup folder does not exist
ID_ERROR_IMEIREPEAT=Cannot create the NV backup file
ID_ERROR_BACKUPNV=NV backup failed
ID_ERROR_BACKUPCER_ERR2=NV backup is off, but the certification data needs it
ID_ERROR_RESTORENV=NV restore failed
)";

constexpr std::string_view kRussian = R"(; Тексты шагов обновления, русский.
[Download_String_Table]
ID_HINT_START=Обновление начато
ID_HINT_THREAD="Канал "
ID_HINT_SW_OUTER=ПО
ID_HINT_PC_OUTER=ПК
ID_HINT_MAC_OUTER=MAC
ID_HINT_INTEGRATE=Сборка
ID_HINT_BACKUPNV=Резервное копирование NV-параметра
ID_HINT_RESTORENV=Восстановление NV-параметра
ID_HINT_SWITCHQUALDOWNMODE=Перевод устройства в режим загрузки
ID_HINT_DOWNLOADARMPRG=Загрузка программатора
ID_HINT_JUMPTOARMPRG=Запуск программатора
ID_HINT_SENDSECURITYCODE=Включение режима безопасности
ID_HINT_DOWNPARTITION=Запись таблицы разделов
ID_HINT_DOWNSDPFILE="Запись образа "
ID_HINT_RESETSDP=Перезагрузка устройства
ID_SUCCESS_BACKUPNV=Резервная копия NV создана
ID_SUCCESS_RESTORENV=NV-параметры восстановлены
ID_ERROR_FILEEXIT="Отсутствует файл прошивки: "
ID_ERROR_NONEDOWNMODE=Устройство не находится в режиме загрузки
ID_ERROR_SWITCHQUALDOWNMODE=Не удалось перевести устройство в режим загрузки
ID_ERROR_USBPORT=Порт устройства не появился снова
ID_ERROR_REPAIRCMD=Загрузчик не отвечает
ID_ERROR_DOWNLOADARMPRG=Не удалось загрузить программатор
ID_ERROR_JUMPTOARMPRG=Программатор не запустился
ID_ERROR_PORTERR=Программатор не отвечает на порту
ID_ERROR_SENDSECURITYCODE=Устройство отклонило режим безопасности
ID_ERROR_DOWNPARTITION=Не удалось записать таблицу разделов
ID_ERROR_OPENMULTI=Устройство отказалось открыть образ
ID_ERROR_DOWNSDPFILE=образ не записан
ID_ERROR_HSDL=Не удалось начать высокоскоростную передачу
ID_ERROR_HANDSHAKE=Устройство не готово принять следующий блок
ID_ERROR_HSSENDDATA=Не удалось отправить блок данных
ID_ERROR_NORESPONSE=Нет ответа от устройства
ID_ERROR_CAL1=Устройство сообщило об ошибке записи
ID_ERROR_CAL2=Несовпадение контрольной суммы, блок отправляется повторно
ID_ERROR_CAL3=Повторное несовпадение контрольной суммы
ID_ERROR_ADRESSRSP=Устройство не подтвердило записанные адреса
ID_ERROR_RESETSDP=Устройство не появилось после перезагрузки
ID_ERROR_NOBARCODE=Не удалось прочитать серийный номер устройства
ID_ERROR_CREATENVPATH=Папка резервной копии NV не существует
ID_ERROR_IMEIREPEAT=Не удалось создать файл резервной копии NV
ID_ERROR_BACKUPNV=Ошибка резервного копирования NV
ID_ERROR_BACKUPCER_ERR2=Резервное копирование NV отключено, но оно необходимо для данных сертификации
ID_ERROR_RESTORENV=Ошибка восстановления NV
)";

}  // namespace

std::string_view BuiltInLanguageProfile(UiLanguage language) {
    return language == UiLanguage::English ? kEnglish : kRussian;
}

}  // namespace tapfix::config
