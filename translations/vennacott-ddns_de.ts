<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation>Die Änderungen konnten beim Beenden nicht gespeichert werden. Trotzdem beenden?</translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation>Wenn Sie jetzt beenden, gehen alle Änderungen seit dem letzten erfolgreichen Speichern verloren</translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation>Trotzdem beenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Cancel button title</extracomment>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>DoneScreen</name>
    <message>
        <source>Host registered</source>
        <translation>Host registriert</translation>
    </message>
    <message>
        <source>&lt;h2&gt;All set&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Alles bereit&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>All set</source>
        <translation>Alles bereit</translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation>Dieser Computer ist erreichbar als:</translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation>Registrierter Hostname</translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation>Seine Adresse wird alle 10 Sekunden aktualisiert, solange Vennacott DDNS läuft. Blenden Sie dieses Fenster aus, damit es weiterläuft; „Schließen“ beendet die Aktualisierungen.</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Zurücksetzen</translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation>Zurücksetzen: diesen Hostnamen vergessen</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS schließen</translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation>&amp;Ausblenden</translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation>Fenster ausblenden und weiter aktualisieren</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Warten auf die erste Aktualisierung</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation>aktualisiert</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>abgelehnt</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>keine Antwort</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>lief nicht</translation>
    </message>
    <message>
        <source>Either family</source>
        <translation>Beide Familien</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 Min.</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 Std. %2 Min.</translation>
    </message>
    <message>
        <source>%1 days %2 h</source>
        <translation>%1 Tage %2 Std.</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Zeitleiste</translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation>Dieselben Änderungen stehen in den Tabellen darunter.</translation>
    </message>
    <message>
        <source>now</source>
        <translation>jetzt</translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation>%1  %2: %3, %4</translation>
    </message>
    <message>
        <source>no address</source>
        <translation>keine Adresse</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation>&amp;Zeigen:</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>Letzter Tag</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>Letzte Woche</translation>
    </message>
    <message>
        <source>Last month</source>
        <translation>Letzter Monat</translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation>Noch nichts festgehalten: der Verlauf beginnt mit der ersten Aktualisierung.</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>First seen</source>
        <translation>Zuerst gesehen</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Zuletzt gesehen</translation>
    </message>
    <message>
        <source>How long</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation>%1-Adressen</translation>
    </message>
    <message>
        <source>still in use</source>
        <translation>noch in Gebrauch</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation>Hostnamen wählen</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Hostnamen wählen&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation>Die öffentliche Adresse dieses Computers wird unter diesem Namen aktuell gehalten.</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>Hostname</translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation>mein-computer</translation>
    </message>
    <message>
        <source>.zone</source>
        <translation>.zone</translation>
    </message>
    <message>
        <source>Zone</source>
        <translation>Zone</translation>
    </message>
    <message>
        <source>⚠ This host name is not available. Please choose another one.</source>
        <translation>⚠ Dieser Hostname ist nicht verfügbar. Bitte wählen Sie einen anderen.</translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation>Warnung: Hostname nicht verfügbar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS schließen</translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation>&amp;Registrieren</translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation>Hostnamen registrieren</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Speichern</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>&amp;Jetzt aktualisieren</translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation>&amp;Abmelden</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation>Ü&amp;ber Vennacott DDNS</translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation>IPv4 und IPv6</translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation>Nur IPv4</translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation>Nur IPv6</translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation>Anmeldung im System-&amp;Schlüsselbund aufbewahren</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>&amp;Verlauf</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation>Aktualisierungen von %1 schlagen fehl</translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation>Aktualisierungen von %1 funktionieren wieder</translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation>%1 zeigt jetzt auf %2</translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation>Zuvor sah der Dienst %1.</translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation>%1 zeigt jetzt über %3 auf %2</translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Anmelden&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation>Melden Sie sich mit Ihrem Vennacott-Konto an, damit ein Hostname stets auf diesen Computer zeigt.</translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation>&amp;E-Mail:</translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation>name@example.org</translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation>E-Mail-Adresse</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Passwort:</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Vennacott DDNS schließen</translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation>&amp;Anmelden</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation>Nicht eingerichtet: im Fenster anmelden und einen Hostnamen wählen</translation>
    </message>
    <message>
        <source>Show window</source>
        <translation>Fenster anzeigen</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Benachrichtigungen</translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation>der gespeicherte Aktualisierungslink ergibt keine gültige Adresse</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>HTTP-Status %1</translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation>die Antwort des Aktualisierungsservers ist kein JSON-Objekt</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>Warten auf die erste Aktualisierung</translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation>Aktualisiert um %1</translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation>Aktualisiert um %1 – der Dienst sieht %2</translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation>Der Aktualisierungsserver hat die letzte Aktualisierung um %1 abgelehnt: %2</translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation>
            <numerusform>Keine Antwort vom Aktualisierungsserver seit %1; neuer Versuch im Abstand von %n Sekunde</numerusform>
            <numerusform>Keine Antwort vom Aktualisierungsserver seit %1; neuer Versuch im Abstand von %n Sekunden</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 und %2</translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation>über die VPN-Schnittstelle %1 gesendet: der Dienst hat womöglich die Adresse des VPN erfasst</translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation>Ihr Anbieter teilt diese Adresse zwischen Kunden: Verbindungen aus dem Internet erreichen diesen Computer womöglich nicht</translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation>der Dienst sah die private Adresse %1: Verbindungen aus dem Internet können sie nicht erreichen</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Signing in…</source>
        <translation>Anmeldung läuft…</translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation>Die E-Mail-Adresse oder das Passwort wurde nicht akzeptiert.</translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>Registrierung läuft…</translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation>Der Dienst ist nicht erreichbar. Prüfen Sie die Netzwerkverbindung und versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation>Über Vennacott DDNS</translation>
    </message>
    <message>
        <source>Service:</source>
        <translation>Dienst:</translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation>API %1
Aktualisierung %2
Zone %3</translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation>Einstellungen:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>Verlauf:</translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation>%1 (angelegt, sobald die Aktualisierung ihn schreibt)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation>Tastenkürzel:</translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation>Lizenz:</translation>
    </message>
    <message>
        <source>Licence</source>
        <translation>Lizenz</translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation>Es läuft kein System-Schlüsselbund, daher kann die dort aufbewahrte Anmeldung nicht gelesen werden. Es wird alle paar Sekunden erneut versucht.</translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation>Der System-Schlüsselbund ist gesperrt, daher kann die dort aufbewahrte Anmeldung noch nicht gelesen werden. Sie wird gelesen, sobald der Schlüsselbund entsperrt ist.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation>Die Anmeldung konnte nicht im System-Schlüsselbund aufbewahrt werden: Es läuft kein Schlüsselbund.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation>Die Anmeldung konnte nicht im System-Schlüsselbund aufbewahrt werden: Er ist gesperrt.</translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation>Die Anmeldung kann erst in die Einstellungsdatei zurück, wenn der System-Schlüsselbund gelesen werden kann.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation>Die Anmeldung bleibt in der Einstellungsdatei: Es läuft kein System-Schlüsselbund.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation>Die Anmeldung bleibt in der Einstellungsdatei: Der System-Schlüsselbund ist gesperrt.</translation>
    </message>
</context>
</TS>
