<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AboutBox</name>
    <message>
        <source>Varnel %1 (build %2)</source>
        <translation>Varnel %1 (Build %2)</translation>
    </message>
    <message>
        <source>Repairs the permissions of the files on the start-up disk.</source>
        <translation>Repariert die Zugriffsrechte der Dateien auf dem Startvolume.</translation>
    </message>
    <message>
        <source>Copyright © 2026 The Varnel developers</source>
        <translation>Copyright © 2026 Die Varnel-Entwickler</translation>
    </message>
    <message>
        <source>Released under the MIT licence.</source>
        <translation>Veröffentlicht unter der MIT-Lizenz.</translation>
    </message>
    <message>
        <source>About Varnel</source>
        <translation>Über Varnel</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Repair disk permissions</source>
        <translation>Zugriffsrechte reparieren</translation>
    </message>
    <message>
        <source>Varnel puts the permissions of the files on your start-up disk back the way they were installed. A repair takes a few minutes, and you can go on working while it runs.</source>
        <translation>Varnel setzt die Zugriffsrechte der Dateien auf Ihrem Startvolume auf den Stand der Installation zurück. Eine Reparatur dauert einige Minuten; Sie können währenddessen weiterarbeiten.</translation>
    </message>
    <message>
        <source>&amp;Scan and Repair</source>
        <translation>&amp;Prüfen und reparieren</translation>
    </message>
    <message>
        <source>Last repair:</source>
        <translation>Letzte Reparatur:</translation>
    </message>
    <message>
        <source>How long ago the last repair completed</source>
        <translation>Wie lange die letzte abgeschlossene Reparatur zurückliegt</translation>
    </message>
    <message>
        <source>Repair in progress</source>
        <translation>Reparatur läuft</translation>
    </message>
    <message>
        <source>Repairing permissions…</source>
        <translation>Zugriffsrechte werden repariert …</translation>
    </message>
    <message>
        <source>Repair progress</source>
        <translation>Fortschritt der Reparatur</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>Show &amp;details</source>
        <translation>De&amp;tails einblenden</translation>
    </message>
    <message>
        <source>Repair log</source>
        <translation>Reparaturprotokoll</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>S&amp;ave…</source>
        <translation>&amp;Speichern …</translation>
    </message>
    <message>
        <source>Open the Varnel home page in your web browser</source>
        <translation>Die Varnel-Website im Webbrowser öffnen</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Check for &amp;Updates…</source>
        <translation>Nach &amp;Aktualisierungen suchen …</translation>
    </message>
    <message>
        <source>Varnel &amp;Help</source>
        <translation>Varnel-&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Save Log…</source>
        <translation>Protokoll &amp;speichern …</translation>
    </message>
    <message>
        <source>&amp;About Varnel</source>
        <translation>Über &amp;Varnel</translation>
    </message>
    <message>
        <source>&amp;Check Without Repairing</source>
        <translation>&amp;Prüfen ohne Reparatur</translation>
    </message>
</context>
<context>
    <name>RunNotifier</name>
    <message>
        <source>Repair complete</source>
        <translation>Reparatur abgeschlossen</translation>
    </message>
    <message>
        <source>The repair did not finish</source>
        <translation>Die Reparatur wurde nicht abgeschlossen</translation>
    </message>
</context>
<context>
    <name>app::AppDelegate</name>
    <message>
        <source>Repairing %1% — Varnel</source>
        <translation>Reparatur %1 % — Varnel</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Noch nie</translation>
    </message>
    <message>
        <source>Today</source>
        <translation>Heute</translation>
    </message>
    <message>
        <source>Yesterday</source>
        <translation>Gestern</translation>
    </message>
    <message>
        <source>1 day ago</source>
        <translation>Vor 1 Tag</translation>
    </message>
    <message numerus="yes">
        <source>%n days ago</source>
        <translation>
            <numerusform>Vor %n Tag</numerusform>
            <numerusform>Vor %n Tagen</numerusform>
        </translation>
    </message>
    <message>
        <source>Varnel is only available if you are logged in using an admin account.
Please check your account type under Users &amp; Groups in Applications -&gt; System Preferences.
Some users have reported an issue after a recently applied Apple update which is resolved after rebooting their Mac.</source>
        <translation>Varnel steht nur zur Verfügung, wenn Sie mit einem Administratorkonto angemeldet sind.
Bitte prüfen Sie Ihren Kontotyp unter „Benutzer &amp; Gruppen“ in Programme -&gt; Systemeinstellungen.
Manche Benutzer berichten nach einem kürzlich installierten Apple-Update von einem Problem, das nach einem Neustart ihres Mac behoben ist.</translation>
    </message>
    <message>
        <source>Administrators are the members of the group %1.</source>
        <translation>Administratoren sind die Mitglieder der Gruppe %1.</translation>
    </message>
    <message>
        <source>Administrators are the members of the groups %1.</source>
        <translation>Administratoren sind die Mitglieder der Gruppen %1.</translation>
    </message>
    <message>
        <source>Varnel is only available to administrators, and your account is not one.</source>
        <translation>Varnel steht nur Administratoren zur Verfügung, und Ihr Konto ist keines.</translation>
    </message>
    <message>
        <source>An administrator can make your account a member; then log out and log in again for the change to take effect.</source>
        <translation>Ein Administrator kann Ihr Konto als Mitglied aufnehmen; melden Sie sich danach ab und wieder an, damit die Änderung wirksam wird.</translation>
    </message>
    <message>
        <source>Repair of the start-up disk started</source>
        <translation>Reparatur des Startvolumes begonnen</translation>
    </message>
    <message>
        <source>The repair could not be started: %1</source>
        <translation>Die Reparatur konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>The repair could not be started.

%1</source>
        <translation>Die Reparatur konnte nicht gestartet werden.

%1</translation>
    </message>
    <message>
        <source>Nothing needed repair</source>
        <translation>Nichts musste repariert werden</translation>
    </message>
    <message>
        <source>1 file repaired</source>
        <translation>1 Datei repariert</translation>
    </message>
    <message>
        <source>%1 files repaired</source>
        <translation>%1 Dateien repariert</translation>
    </message>
    <message>
        <source>The repair is complete, but its time could not be saved in %1, so Varnel will not remember it after it quits.</source>
        <translation>Die Reparatur ist abgeschlossen, aber ihr Zeitpunkt konnte nicht in %1 gespeichert werden; nach dem Beenden weiß Varnel daher nichts mehr von ihr.</translation>
    </message>
    <message>
        <source>The time of the last repair was left as it was.</source>
        <translation>Der Zeitpunkt der letzten Reparatur bleibt unverändert.</translation>
    </message>
    <message>
        <source>Stopped by you</source>
        <translation>Von Ihnen angehalten</translation>
    </message>
    <message>
        <source>Stop the repair? Files repaired so far stay repaired.</source>
        <translation>Die Reparatur anhalten? Bereits reparierte Dateien bleiben repariert.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Hide &amp;details</source>
        <translation>De&amp;tails ausblenden</translation>
    </message>
    <message>
        <source>Show &amp;details</source>
        <translation>De&amp;tails einblenden</translation>
    </message>
    <message>
        <source>Save the Repair Log</source>
        <translation>Reparaturprotokoll speichern</translation>
    </message>
    <message>
        <source>Varnel repair log.txt</source>
        <translation>Varnel-Reparaturprotokoll.txt</translation>
    </message>
    <message>
        <source>Text files (*.txt);;All files (*)</source>
        <translation>Textdateien (*.txt);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2</source>
        <translation>Das Protokoll konnte nicht unter %1 gespeichert werden: %2</translation>
    </message>
    <message>
        <source>Varnel repair log of %1</source>
        <translation>Varnel-Reparaturprotokoll vom %1</translation>
    </message>
    <message>
        <source>Unable to check for updates, please visit %1 to download the latest version.</source>
        <translation>Die Suche nach Aktualisierungen ist nicht möglich. Die neueste Version finden Sie unter %1.</translation>
    </message>
    <message>
        <source>No web browser could be opened. The address is:
%1</source>
        <translation>Es konnte kein Webbrowser geöffnet werden. Die Adresse lautet:
%1</translation>
    </message>
</context>
<context>
    <name>app::CheckRun</name>
    <message>
        <source>Checking permissions…</source>
        <translation>Zugriffsrechte werden geprüft …</translation>
    </message>
    <message>
        <source>Check complete: no file needs repair</source>
        <translation>Prüfung abgeschlossen: Keine Datei muss repariert werden</translation>
    </message>
    <message>
        <source>Check complete: 1 file differs and would be repaired</source>
        <translation>Prüfung abgeschlossen: 1 Datei weicht ab und würde repariert</translation>
    </message>
    <message>
        <source>Check complete: %1 files differ and would be repaired</source>
        <translation>Prüfung abgeschlossen: %1 Dateien weichen ab und würden repariert</translation>
    </message>
    <message>
        <source>The check found no file whose permissions need repair. Nothing was changed.</source>
        <translation>Die Prüfung hat keine Datei gefunden, deren Zugriffsrechte repariert werden müssen. Es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>The check found 1 file whose permissions differ from how it was installed.</source>
        <translation>Die Prüfung hat 1 Datei gefunden, deren Zugriffsrechte von der Installation abweichen.</translation>
    </message>
    <message>
        <source>The check found %1 files whose permissions differ from how they were installed.</source>
        <translation>Die Prüfung hat %1 Dateien gefunden, deren Zugriffsrechte von der Installation abweichen.</translation>
    </message>
    <message>
        <source>Nothing was changed.</source>
        <translation>Es wurde nichts geändert.</translation>
    </message>
    <message>
        <source>Repair now?</source>
        <translation>Jetzt reparieren?</translation>
    </message>
    <message>
        <source>Repair Now</source>
        <translation>Jetzt reparieren</translation>
    </message>
    <message>
        <source>Not Now</source>
        <translation>Nicht jetzt</translation>
    </message>
    <message>
        <source>Checking %1% — Varnel</source>
        <translation>Prüfung %1 % — Varnel</translation>
    </message>
    <message>
        <source>Check of the start-up disk started</source>
        <translation>Prüfung des Startvolumes begonnen</translation>
    </message>
    <message>
        <source>The check could not be started: %1</source>
        <translation>Die Prüfung konnte nicht gestartet werden: %1</translation>
    </message>
    <message>
        <source>The check could not be started.

%1</source>
        <translation>Die Prüfung konnte nicht gestartet werden.

%1</translation>
    </message>
    <message>
        <source>Stop the check? Nothing has been changed.</source>
        <translation>Die Prüfung anhalten? Es wurde nichts geändert.</translation>
    </message>
</context>
<context>
    <name>app::FailedRun</name>
    <message>
        <source>The request for an administrator&apos;s password was cancelled, so nothing was changed.</source>
        <translation>Die Abfrage des Administratorpassworts wurde abgebrochen; es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>To repair, press Scan and Repair again and enter an administrator&apos;s password when asked.</source>
        <translation>Um zu reparieren, klicken Sie erneut auf „Prüfen und reparieren“ und geben Sie das Passwort eines Administrators ein, wenn Sie danach gefragt werden.</translation>
    </message>
    <message>
        <source>Varnel could not ask for an administrator&apos;s password: no password prompt can be shown in this session, so nothing was changed.</source>
        <translation>Varnel konnte nicht nach dem Passwort eines Administrators fragen: In dieser Sitzung kann keine Passwortabfrage angezeigt werden. Es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>Start Varnel from a desktop session, or run the repair in a terminal:
%1</source>
        <translation>Starten Sie Varnel aus einer Desktop-Sitzung, oder führen Sie die Reparatur in einem Terminal aus:
%1</translation>
    </message>
    <message>
        <source>The password was not accepted, or this account may not repair the system, so nothing was changed.</source>
        <translation>Das Passwort wurde nicht akzeptiert, oder dieses Konto darf das System nicht reparieren. Es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>Press Scan and Repair again and enter an administrator&apos;s password, or let an administrator run the repair in a terminal:
%1</source>
        <translation>Klicken Sie erneut auf „Prüfen und reparieren“ und geben Sie das Passwort eines Administrators ein, oder lassen Sie einen Administrator die Reparatur in einem Terminal ausführen:
%1</translation>
    </message>
    <message>
        <source>Varnel could not ask for an administrator&apos;s password because pkexec could not be started, so nothing was changed.</source>
        <translation>Varnel konnte nicht nach dem Passwort eines Administrators fragen, weil pkexec nicht gestartet werden konnte. Es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>Install pkexec, or run the repair in a terminal:
%1</source>
        <translation>Installieren Sie pkexec, oder führen Sie die Reparatur in einem Terminal aus:
%1</translation>
    </message>
    <message>
        <source>Varnel could not get an administrator&apos;s permission to repair, so nothing was changed.</source>
        <translation>Varnel hat keine Administratorberechtigung für die Reparatur erhalten; es wurde nichts verändert.</translation>
    </message>
    <message>
        <source>The repair did not finish: the repair tool %1 was stopped by a signal.</source>
        <translation>Die Reparatur wurde nicht abgeschlossen: Das Reparaturwerkzeug %1 wurde durch ein Signal beendet.</translation>
    </message>
    <message>
        <source>The repair did not finish: the repair tool %1 ended with exit status %2.</source>
        <translation>Die Reparatur wurde nicht abgeschlossen: Das Reparaturwerkzeug %1 endete mit dem Exit-Status %2.</translation>
    </message>
    <message>
        <source>The tool said: %1</source>
        <translation>Meldung des Werkzeugs: %1</translation>
    </message>
    <message>
        <source>The check did not finish: the repair tool %1 was stopped by a signal.</source>
        <translation>Die Prüfung wurde nicht abgeschlossen: Das Reparaturwerkzeug %1 wurde durch ein Signal beendet.</translation>
    </message>
    <message>
        <source>The check did not finish: the repair tool %1 ended with exit status %2.</source>
        <translation>Die Prüfung wurde nicht abgeschlossen: Das Reparaturwerkzeug %1 endete mit dem Exit-Status %2.</translation>
    </message>
</context>
<context>
    <name>app::MainWindow</name>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
</context>
<context>
    <name>app::RepairLog</name>
    <message>
        <source>1 earlier line not kept</source>
        <translation>1 frühere Zeile nicht aufbewahrt</translation>
    </message>
    <message>
        <source>%1 earlier lines not kept</source>
        <translation>%1 frühere Zeilen nicht aufbewahrt</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Repairs the permissions of the files on the start-up disk.</source>
        <translation>Repariert die Zugriffsrechte der Dateien auf dem Startvolume.</translation>
    </message>
</context>
<context>
    <name>repair::repairPermissions</name>
    <message>
        <source>The repair tool %1 does not exist.</source>
        <translation>Das Reparaturwerkzeug %1 existiert nicht.</translation>
    </message>
    <message>
        <source>The repair tool %1 is a folder, not a program.</source>
        <translation>Das Reparaturwerkzeug %1 ist ein Ordner, kein Programm.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not a program.</source>
        <translation>Das Reparaturwerkzeug %1 ist kein Programm.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not executable.</source>
        <translation>Das Reparaturwerkzeug %1 ist nicht ausführbar.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not a program this system can run.</source>
        <translation>Das Reparaturwerkzeug %1 ist kein Programm, das dieses System ausführen kann.</translation>
    </message>
    <message>
        <source>The repair tool %1 could not be started: %2.</source>
        <translation>Das Reparaturwerkzeug %1 konnte nicht gestartet werden: %2.</translation>
    </message>
    <message>
        <source>The repair tool %1 could not be started: %2</source>
        <translation>Das Reparaturwerkzeug %1 konnte nicht gestartet werden: %2</translation>
    </message>
    <message>
        <source>The repair tool %1 did not start within %2 seconds.</source>
        <translation>Das Reparaturwerkzeug %1 ist nicht innerhalb von %2 Sekunden gestartet.</translation>
    </message>
</context>
<context>
    <name>update::Appcast</name>
    <message>
        <source>the feed declares a document type, which is not accepted</source>
        <translation>der Feed deklariert einen Dokumenttyp, was nicht zulässig ist</translation>
    </message>
    <message>
        <source>the feed is nested too deeply</source>
        <translation>der Feed ist zu tief verschachtelt</translation>
    </message>
    <message>
        <source>the document is not an RSS feed</source>
        <translation>das Dokument ist kein RSS-Feed</translation>
    </message>
</context>
<context>
    <name>update::MessageBoxPresenter</name>
    <message>
        <source>You&apos;re up to date!

%1 %2 is the newest version available.</source>
        <translation>Sie sind auf dem neuesten Stand!

%1 %2 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>A new version of %1 is available!

%1 %2 is now available; you have %3.</source>
        <translation>Eine neue Version von %1 ist verfügbar!

%1 %2 ist jetzt verfügbar; Sie haben %3.</translation>
    </message>
    <message>
        <source> Would you like to open its download page?</source>
        <translation> Möchten Sie die Download-Seite öffnen?</translation>
    </message>
    <message>
        <source>The check for updates failed.

%1</source>
        <translation>Die Suche nach Aktualisierungen ist fehlgeschlagen.

%1</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>update::Updater</name>
    <message>
        <source>The update server did not answer in time.</source>
        <translation>Der Aktualisierungsserver hat nicht rechtzeitig geantwortet.</translation>
    </message>
    <message>
        <source>No valid address of the update feed is set.</source>
        <translation>Es ist keine gültige Adresse des Aktualisierungs-Feeds eingestellt.</translation>
    </message>
    <message>
        <source>The update server answered with HTTP status %1.</source>
        <translation>Der Aktualisierungsserver hat mit dem HTTP-Status %1 geantwortet.</translation>
    </message>
    <message>
        <source>The update feed is larger than 1 MiB.</source>
        <translation>Der Aktualisierungs-Feed ist größer als 1 MiB.</translation>
    </message>
    <message>
        <source>The update server redirected too many times.</source>
        <translation>Der Aktualisierungsserver hat zu oft weitergeleitet.</translation>
    </message>
    <message>
        <source>The update server redirected to an address that is not allowed.</source>
        <translation>Der Aktualisierungsserver hat auf eine nicht zulässige Adresse weitergeleitet.</translation>
    </message>
    <message>
        <source>The update server could not be reached (%1).</source>
        <translation>Der Aktualisierungsserver war nicht erreichbar (%1).</translation>
    </message>
    <message>
        <source>The update feed could not be read (%1).</source>
        <translation>Der Aktualisierungs-Feed konnte nicht gelesen werden (%1).</translation>
    </message>
    <message>
        <source>The update feed could not be read (it names no release version).</source>
        <translation>Der Aktualisierungs-Feed konnte nicht gelesen werden (er nennt keine Versionsnummer).</translation>
    </message>
</context>
</TS>
