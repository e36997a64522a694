<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="cs_CZ">
<context>
    <name>qtr290::BusPanel</name>
    <message>
        <source>Přehled sběrnice</source>
        <translation>Bus overview</translation>
    </message>
    <message>
        <source>Telegramy</source>
        <translation>Telegrams</translation>
    </message>
    <message>
        <source>Přijaté neporušené telegramy včetně výzev</source>
        <translation>Intact telegrams received, polls included</translation>
    </message>
    <message>
        <source>Výzvy</source>
        <translation>Polls</translation>
    </message>
    <message>
        <source>Přijaté výzvy, ať vyzývají kohokoli</source>
        <translation>Polls received, whoever they poll</translation>
    </message>
    <message>
        <source>Odpovědi</source>
        <translation>Replies</translation>
    </message>
    <message>
        <source>Výzvy, na které šel TLG z fronty</source>
        <translation>Polls answered with a telegram from the queue</translation>
    </message>
    <message>
        <source>Odesláno</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>Odeslané TLG, na výzvu i bez ní</source>
        <translation>Telegrams sent, on a poll or without one</translation>
    </message>
    <message>
        <source>Chyby hlavičky</source>
        <translation>Header errors</translation>
    </message>
    <message>
        <source>Řádky „Vadne CRC hlavicky“</source>
        <translation>Lines “Vadne CRC hlavicky” (bad header checksum)</translation>
    </message>
    <message>
        <source>Chyby dat</source>
        <translation>Data errors</translation>
    </message>
    <message>
        <source>Řádky „Vadne CRC dat“</source>
        <translation>Lines “Vadne CRC dat” (bad data checksum)</translation>
    </message>
    <message>
        <source>Ve frontě</source>
        <translation>Queued</translation>
    </message>
    <message>
        <source>TLG čekající ve frontě</source>
        <translation>Telegrams waiting in the queue</translation>
    </message>
    <message>
        <source>Bajty</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>Přijaté bajty</source>
        <translation>Bytes received</translation>
    </message>
    <message>
        <source>Vynulovat</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>Vynuluje počítadla kromě fronty</source>
        <translation>Resets the counters except the queue</translation>
    </message>
    <message>
        <source>Fronta TLG</source>
        <translation>Telegram queue</translation>
    </message>
    <message>
        <source>Čekající TLG od nejstaršího; odchází na výzvu a zůstává, dokud ho neodebere další neporušený TLG, který není výzva</source>
        <translation>Waiting telegrams, oldest first; one goes out on a poll and stays until the next intact telegram that is not a poll removes it</translation>
    </message>
    <message>
        <source>Záznam fronty</source>
        <translation>Queue log</translation>
    </message>
    <message>
        <source>Proč TLG z fronty odešly, nejnovější nahoře; doba odpovědi se měří k dávce, která ji přinesla (po 40 ms)</source>
        <translation>Why telegrams left the queue, newest on top; a reply time is measured to the batch that brought the reply (every 40 ms)</translation>
    </message>
    <message>
        <source>Nastavení nelze přečíst: platí výchozí, soubor se nepřepíše</source>
        <translation>Settings cannot be read: defaults apply, the file will not be overwritten</translation>
    </message>
    <message>
        <source>Jazyk „%1“ program nemá, okno je česky</source>
        <translation>The program has no language “%1”: the window is in Czech</translation>
    </message>
    <message>
        <source>Výstup do souboru: ztracené řádky %1</source>
        <translation>Output to file: lines lost %1</translation>
    </message>
    <message>
        <source>%1 držel jiný program nebo nešel zapsat; zápis pokračuje, jakmile to jde</source>
        <translation>%1 was held by another program or could not be written; writing resumes as soon as it can</translation>
    </message>
</context>
<context>
    <name>qtr290::FileLocations</name>
    <message>
        <source>Nastavení: %1
Výstup do souboru: %2</source>
        <translation>Settings: %1
Output to file: %2</translation>
    </message>
</context>
<context>
    <name>qtr290::PendingQueue</name>
    <message>
        <source>TLG</source>
        <translation>Telegram</translation>
    </message>
    <message>
        <source>TLG → %1</source>
        <translation>Telegram → %1</translation>
    </message>
    <message>
        <source>oblast %1</source>
        <translation>area %1</translation>
    </message>
    <message>
        <source>Zápis</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Čtení</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>neodesláno</source>
        <translation>not sent</translation>
    </message>
    <message>
        <source>odesláno %1×, naposledy %2</source>
        <translation>sent %1×, last at %2</translation>
    </message>
    <message>
        <source>odebrán dřív, než byl odeslán</source>
        <translation>removed before it was sent</translation>
    </message>
    <message>
        <source>odebrán odpovědí po %1 ms (odesláno %2×)</source>
        <translation>removed by a reply after %1 ms (sent %2×)</translation>
    </message>
    <message>
        <source>odeslán jen jednou a odebrán</source>
        <translation>sent once only and removed</translation>
    </message>
    <message>
        <source>vymazán (Vymaž buffer/START)</source>
        <translation>cleared (Clear buffer/START)</translation>
    </message>
</context>
<context>
    <name>qtr290::PortDevices</name>
    <message>
        <source>sériové č. </source>
        <translation>serial no. </translation>
    </message>
    <message>
        <source>zařízení existuje</source>
        <translation>device present</translation>
    </message>
</context>
<context>
    <name>qtr290::PortStatus</name>
    <message>
        <source>nemá přiřazené zařízení (sekce [Porty] v nastaveni.ini)</source>
        <translation>no device assigned (section [Porty] in nastaveni.ini)</translation>
    </message>
    <message>
        <source>nelze otevřít, zařízení neexistuje</source>
        <translation>cannot open, the device does not exist</translation>
    </message>
    <message>
        <source>nelze otevřít, chybí oprávnění (uživatel není ve skupině dialout)</source>
        <translation>cannot open, permission denied (the user is not in the dialout group)</translation>
    </message>
    <message>
        <source>nelze otevřít, zařízení nepřijalo nastavení linky</source>
        <translation>cannot open, the device refused the line settings</translation>
    </message>
    <message>
        <source>nelze otevřít, port používá jiný program nebo ho nelze nastavit</source>
        <translation>cannot open, another program uses the port or it cannot be set up</translation>
    </message>
    <message>
        <source>COM%1 bez zařízení</source>
        <translation>COM%1 without a device</translation>
    </message>
    <message>
        <source>připojeno</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>odpojeno</source>
        <translation>disconnected</translation>
    </message>
    <message>
        <source>zařízení odpojeno, čekám na jeho návrat</source>
        <translation>device removed, waiting for it to come back</translation>
    </message>
    <message>
        <source>zařízení odpojeno, znovu otevře volba Připojeno</source>
        <translation>device removed, choosing Connected opens it again</translation>
    </message>
    <message>
        <source>  |  od příštího spuštění: </source>
        <translation>  |  from the next start: </translation>
    </message>
</context>
<context>
    <name>qtr290::TForm1</name>
    <message>
        <source>Komunikační utilita QTR290 v0.5</source>
        <translation>QTR290 Communication Utility v0.5</translation>
    </message>
    <message>
        <source>Daný sériový port neexistuje nebo se právě používá !</source>
        <translation>The serial port does not exist or is in use!</translation>
    </message>
    <message>
        <source>Nastavení nelze uložit do souboru %1</source>
        <translation>The settings cannot be saved to the file %1</translation>
    </message>
    <message>
        <source>TLG nebyl zařazen.</source>
        <translation>The telegram was not queued.</translation>
    </message>
    <message>
        <source>Počet dat je větší než 243 !</source>
        <translation>The data count is greater than 243!</translation>
    </message>
    <message>
        <source>Odešle se: %1</source>
        <translation>Will be sent: %1</translation>
    </message>
    <message>
        <source>Smaž</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Baud rate</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>Řazení zpráv</source>
        <translation>Message order</translation>
    </message>
    <message>
        <source>Nejnovější na začátku</source>
        <translation>Newest first</translation>
    </message>
    <message>
        <source>Nejnovější na konci</source>
        <translation>Newest last</translation>
    </message>
    <message>
        <source>Stav COM portu</source>
        <translation>COM port state</translation>
    </message>
    <message>
        <source>Připojeno</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>Odpojeno</source>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>Přijatá data:</source>
        <translation>Received data:</translation>
    </message>
    <message>
        <source>Zobrazuj</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>Nezobrazuj</source>
        <translation>Hide</translation>
    </message>
    <message>
        <source>Počet bytů na řádku</source>
        <translation>Bytes per line</translation>
    </message>
    <message>
        <source>Filtruj příchozí</source>
        <translation>Filter incoming</translation>
    </message>
    <message>
        <source>Od</source>
        <translation>From</translation>
    </message>
    <message>
        <source>Pro</source>
        <translation>To</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>Nezobrazuj výzvy</source>
        <translation>Hide polls</translation>
    </message>
    <message>
        <source>Výstup do souboru</source>
        <translation>Output to file</translation>
    </message>
    <message>
        <source>Časové značky</source>
        <translation>Time stamps</translation>
    </message>
    <message>
        <source>Před záznam čas jeho dávky (po 40 ms), u přijatých TLG i odstup od předchozího</source>
        <translation>Before each entry the time of its batch (every 40 ms), for received telegrams also the gap to the previous one</translation>
    </message>
    <message>
        <source>Přehled sběrnice</source>
        <translation>Bus overview</translation>
    </message>
    <message>
        <source>Počet bytů:</source>
        <translation>Byte count:</translation>
    </message>
    <message>
        <source>Druh čtení/zápisu</source>
        <translation>Read/write area</translation>
    </message>
    <message>
        <source>Druh TLG</source>
        <translation>Telegram kind</translation>
    </message>
    <message>
        <source>Čtení</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Zápis</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Pošli TLG (po příchodu výzvy)</source>
        <translation>Send telegram (when polled)</translation>
    </message>
    <message>
        <source>Pošli TLG (nečekej na výzvu)</source>
        <translation>Send telegram (do not wait for a poll)</translation>
    </message>
    <message>
        <source>Vymaž buffer</source>
        <translation>Clear buffer</translation>
    </message>
    <message>
        <source>Test komunikace</source>
        <translation>Communication test</translation>
    </message>
</context>
</TS>
