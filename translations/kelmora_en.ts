<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>Настройка, наблюдение и обновление прошивки устройств Modbus RTU.</source>
        <translation>Configuration, monitoring and firmware updates of Modbus RTU devices.</translation>
    </message>
</context>
<context>
    <name>CMonitorDlg</name>
    <message>
        <source>Связь с устройством потеряна, переподключение...</source>
        <translation>Connection to the device lost, reconnecting...</translation>
    </message>
    <message>
        <source>Запись, строк: %1</source>
        <translation>Recording, rows: %1</translation>
    </message>
    <message>
        <source>Запись не начата: %1.</source>
        <translation>Recording not started: %1.</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Запись остановлена: %1.
Записано строк: %2.</source>
        <translation>Recording stopped: %1.
Rows recorded: %2.</translation>
    </message>
    <message>
        <source>Таблица CSV (*.csv)</source>
        <translation>CSV table (*.csv)</translation>
    </message>
    <message>
        <source>JSON Lines (*.jsonl)</source>
        <translation>JSON Lines (*.jsonl)</translation>
    </message>
    <message>
        <source>Записывать значения в файл</source>
        <translation>Record values to a file</translation>
    </message>
    <message>
        <source>Конфигурация не сохранена: %1.</source>
        <translation>Configuration not saved: %1.</translation>
    </message>
    <message>
        <source>Конфигурация</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Настроек сохранено: %1, в файл %2.</source>
        <translation>Settings saved: %1, to the file %2.</translation>
    </message>
    <message>
        <source>Файл сделан для устройства %1, а подключено %2 %3. Сравнить и применить его всё равно?</source>
        <translation>The file was made for the device %1, but %2 %3 is connected. Compare and apply it anyway?</translation>
    </message>
    <message>
        <source>Сохранить конфигурацию</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>Конфигурация (*.json);;Все файлы (*)</source>
        <translation>Configuration (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>Сравнить с конфигурацией</source>
        <translation>Compare with configuration</translation>
    </message>
    <message>
        <source>Остановить запись</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>Записывать значения...</source>
        <translation>Record values...</translation>
    </message>
    <message>
        <source>Монитор обмена...</source>
        <translation>Traffic monitor...</translation>
    </message>
    <message>
        <source>Сохранить конфигурацию...</source>
        <translation>Save configuration...</translation>
    </message>
    <message>
        <source>Сравнить с конфигурацией...</source>
        <translation>Compare with configuration...</translation>
    </message>
    <message>
        <source>Язык</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Выбор языка не сохранён: нет доступа к файлу настроек.</source>
        <translation>The language choice was not saved: the settings file cannot be written.</translation>
    </message>
    <message>
        <source>Kelmora будет на выбранном языке со следующего запуска.</source>
        <translation>Kelmora will be in the chosen language from its next start.</translation>
    </message>
</context>
<context>
    <name>CSetupDialog</name>
    <message>
        <source>Загрузка системы</source>
        <translation>Loading</translation>
    </message>
    <message>
        <source>Создаем соединение</source>
        <translation>Connecting</translation>
    </message>
    <message>
        <source>Инициализация связи...</source>
        <translation>Opening the connection...</translation>
    </message>
    <message>
        <source>Неудалось открыть порт</source>
        <translation>Could not open the port</translation>
    </message>
    <message>
        <source>

Нет доступа к порту %1: ваша учётная запись не входит в группу dialout. Добавьте её командой

    sudo usermod -aG dialout $USER

затем выйдите из системы и войдите снова.</source>
        <translation>

No access to the port %1: your account is not in the group dialout. Add it with

    sudo usermod -aG dialout $USER

then log out and log in again.</translation>
    </message>
    <message>
        <source>

Нет соединения с %1</source>
        <translation>

No connection to %1</translation>
    </message>
    <message>
        <source>Настройки последовательного порта</source>
        <translation>Serial port settings</translation>
    </message>
    <message>
        <source>Выберете настройки последовательного порта и нажмите &quot;Далее&quot; для запуска поиска устройств</source>
        <translation>Choose the serial port settings and press &quot;Next&quot; to search for the device</translation>
    </message>
    <message>
        <source>Программа обнаружила устройство </source>
        <translation>Found the device </translation>
    </message>
    <message>
        <source>Готовы к работе</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source> и нашла профиль для них</source>
        <translation> and a profile for it</translation>
    </message>
    <message>
        <source>Настройки профиля устройства</source>
        <translation>Device profile</translation>
    </message>
    <message>
        <source> ,но не нашла профиль для него</source>
        <translation>, but no profile for it</translation>
    </message>
    <message>
        <source>Неизвестное устройство</source>
        <translation>Unknown device</translation>
    </message>
</context>
<context>
    <name>CSnapshotDlg</name>
    <message>
        <source>Конфигурация: %1</source>
        <translation>Configuration: %1</translation>
    </message>
    <message>
        <source>Файл %1 сохранён %2 с устройства %3 (профиль &quot;%4&quot;).</source>
        <translation>The file %1 was saved %2 from the device %3 (profile &quot;%4&quot;).</translation>
    </message>
    <message>
        <source>Настройка</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>В файле</source>
        <translation>In the file</translation>
    </message>
    <message>
        <source>В устройстве</source>
        <translation>In the device</translation>
    </message>
    <message>
        <source>Результат</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>не применимо: %1</source>
        <translation>cannot be applied: %1</translation>
    </message>
    <message>
        <source>Все %1 настроек файла совпадают с устройством.</source>
        <translation>All %1 settings of the file match the device.</translation>
    </message>
    <message>
        <source>Отличаются %1 из %2 настроек.</source>
        <translation>%1 of %2 settings differ.</translation>
    </message>
    <message>
        <source>Применить</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>записано и проверено</source>
        <translation>written and verified</translation>
    </message>
    <message>
        <source>Записано настроек: %1.</source>
        <translation>Settings written: %1.</translation>
    </message>
    <message>
        <source>Записано настроек: %1, не записано: %2.</source>
        <translation>Settings written: %1, not written: %2.</translation>
    </message>
    <message>
        <source>Все настройки записаны. Сохранить конфигурацию во флэш-памяти устройства?</source>
        <translation>Every setting was written. Save the configuration in the device&apos;s flash memory?</translation>
    </message>
</context>
<context>
    <name>CTrafficDlg</name>
    <message>
        <source>порт недоступен</source>
        <translation>port unavailable</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>нет верного ответа</source>
        <translation>no valid answer</translation>
    </message>
    <message>
        <source>недопустимая функция</source>
        <translation>illegal function</translation>
    </message>
    <message>
        <source>недопустимый адрес данных</source>
        <translation>illegal data address</translation>
    </message>
    <message>
        <source>недопустимое значение</source>
        <translation>illegal data value</translation>
    </message>
    <message>
        <source>сбой устройства</source>
        <translation>device failure</translation>
    </message>
    <message>
        <source>подтверждение</source>
        <translation>acknowledge</translation>
    </message>
    <message>
        <source>устройство занято</source>
        <translation>device busy</translation>
    </message>
    <message>
        <source>ошибка чётности памяти</source>
        <translation>memory parity error</translation>
    </message>
    <message>
        <source>шлюз: путь недоступен</source>
        <translation>gateway: path unavailable</translation>
    </message>
    <message>
        <source>шлюз: устройство не отвечает</source>
        <translation>gateway: target did not respond</translation>
    </message>
    <message>
        <source>исключение %1</source>
        <translation>exception %1</translation>
    </message>
    <message>
        <source>исключение %1 (%2)</source>
        <translation>exception %1 (%2)</translation>
    </message>
    <message>
        <source>→ запрос</source>
        <translation>→ request</translation>
    </message>
    <message>
        <source>← ответ</source>
        <translation>← answer</translation>
    </message>
    <message>
        <source>(ничего)</source>
        <translation>(nothing)</translation>
    </message>
    <message>
        <source>верна</source>
        <translation>good</translation>
    </message>
    <message>
        <source>ошибка</source>
        <translation>bad</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Направление</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>Байты</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>Функция</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>Ответ</source>
        <translation>Answer</translation>
    </message>
    <message>
        <source>Время ответа, мс</source>
        <translation>Round trip, ms</translation>
    </message>
    <message>
        <source>Монитор обмена</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>Связь</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>Транзакций в секунду:</source>
        <translation>Transactions per second:</translation>
    </message>
    <message>
        <source>Загрузка линии:</source>
        <translation>Line use:</translation>
    </message>
    <message>
        <source>Время ответа, мс (мин / медиана / 99 %):</source>
        <translation>Round trip, ms (min / median / 99 %):</translation>
    </message>
    <message>
        <source>Тайм-ауты:</source>
        <translation>Time-outs:</translation>
    </message>
    <message>
        <source>Ошибки CRC:</source>
        <translation>CRC errors:</translation>
    </message>
    <message>
        <source>Ответы-исключения:</source>
        <translation>Exception answers:</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Копировать</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Сохранить...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>%1 % от %2 бит/с</source>
        <translation>%1 % of %2 bit/s</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Сохранить кадры</source>
        <translation>Save frames</translation>
    </message>
    <message>
        <source>Текст (*.txt);;Все файлы (*)</source>
        <translation>Text (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>Кадры не сохранены: %1</source>
        <translation>Frames not saved: %1</translation>
    </message>
</context>
<context>
    <name>CViewSerial</name>
    <message>
        <source>Устройство за преобразователем RS-485/Ethernet в режиме TCP-сервера: кадры Modbus RTU идут по TCP без изменений</source>
        <translation>A device behind an RS-485/Ethernet converter in TCP server mode: the Modbus RTU frames travel over TCP unchanged</translation>
    </message>
    <message>
        <source>Имя или IP-адрес преобразователя (IPv4 или IPv6)</source>
        <translation>The converter&apos;s name or IP address (IPv4 or IPv6)</translation>
    </message>
    <message>
        <source>TCP-порт преобразователя, от 1 до 65535</source>
        <translation>The converter&apos;s TCP port, 1 to 65535</translation>
    </message>
</context>
<context>
    <name>DialogTemplate</name>
    <message>
        <source>Информация об устройстве</source>
        <translation>Device information</translation>
    </message>
    <message>
        <source>Имя:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Версия:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Программа:</source>
        <translation>Program:</translation>
    </message>
    <message>
        <source>Управление устройством</source>
        <translation>Device control</translation>
    </message>
    <message>
        <source>Загрузка</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Сохранение</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Настройка программы</source>
        <translation>Kelmora setup</translation>
    </message>
    <message>
        <source>&lt; Назад</source>
        <translation>&lt; Back</translation>
    </message>
    <message>
        <source>Далее &gt;</source>
        <translation>Next &gt;</translation>
    </message>
    <message>
        <source>Завершить</source>
        <translation>Finish</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Используя COM</source>
        <translation>Using COM</translation>
    </message>
    <message>
        <source>Используя устройство из списка</source>
        <translation>Using a device from the list</translation>
    </message>
    <message>
        <source>Параметры связи</source>
        <translation>Line parameters</translation>
    </message>
    <message>
        <source>Скорость:</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>Чётность:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>Биты данных:</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>Стоп-биты:</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>ID Устройства</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>Используя TCP (RTU поверх TCP)</source>
        <translation>Using TCP (RTU over TCP)</translation>
    </message>
    <message>
        <source>Устройство на линии</source>
        <translation>Device on the line</translation>
    </message>
    <message>
        <source>Версия программы:</source>
        <translation>Program version:</translation>
    </message>
    <message>
        <source>Профиль устройства</source>
        <translation>Device profile</translation>
    </message>
    <message>
        <source>Мин.</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>Текущее</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>Макс.</source>
        <translation>Max</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>Не удалось подготовить рабочую папку Kelmora:
%1</source>
        <translation>Could not prepare Kelmora&apos;s working folder:
%1</translation>
    </message>
    <message>
        <source>Загрузка системных библиотек...</source>
        <translation>Loading system libraries...</translation>
    </message>
    <message>
        <source>Создание диалога...</source>
        <translation>Creating the window...</translation>
    </message>
    <message>
        <source>Создание сервера представления...</source>
        <translation>Creating the device server...</translation>
    </message>
    <message>
        <source>Загружаем профили устройств...</source>
        <translation>Loading device profiles...</translation>
    </message>
    <message>
        <source>Создаем окна...</source>
        <translation>Creating windows...</translation>
    </message>
    <message>
        <source>Открываем порт связи...</source>
        <translation>Opening the port...</translation>
    </message>
    <message>
        <source>Определение устройства...</source>
        <translation>Identifying the device...</translation>
    </message>
</context>
</TS>
