<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>AboutBox</name>
    <message>
        <source>Varnel %1 (build %2)</source>
        <translation>Varnel %1 (build %2)</translation>
    </message>
    <message>
        <source>Repairs the permissions of the files on the start-up disk.</source>
        <translation>Répare les autorisations des fichiers du disque de démarrage.</translation>
    </message>
    <message>
        <source>Copyright © 2026 The Varnel developers</source>
        <translation>Copyright © 2026 Les développeurs de Varnel</translation>
    </message>
    <message>
        <source>Released under the MIT licence.</source>
        <translation>Publié sous la licence MIT.</translation>
    </message>
    <message>
        <source>About Varnel</source>
        <translation>À propos de Varnel</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Repair disk permissions</source>
        <translation>Réparer les autorisations du disque</translation>
    </message>
    <message>
        <source>Varnel puts the permissions of the files on your start-up disk back the way they were installed. A repair takes a few minutes, and you can go on working while it runs.</source>
        <translation>Varnel rétablit les autorisations des fichiers de votre disque de démarrage telles qu’elles étaient à l’installation. Une réparation prend quelques minutes, et vous pouvez continuer à travailler pendant ce temps.</translation>
    </message>
    <message>
        <source>&amp;Scan and Repair</source>
        <translation>&amp;Analyser et réparer</translation>
    </message>
    <message>
        <source>Last repair:</source>
        <translation>Dernière réparation :</translation>
    </message>
    <message>
        <source>How long ago the last repair completed</source>
        <translation>Depuis combien de temps la dernière réparation s’est terminée</translation>
    </message>
    <message>
        <source>Repair in progress</source>
        <translation>Réparation en cours</translation>
    </message>
    <message>
        <source>Repairing permissions…</source>
        <translation>Réparation des autorisations…</translation>
    </message>
    <message>
        <source>Repair progress</source>
        <translation>Progression de la réparation</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>A&amp;rrêter</translation>
    </message>
    <message>
        <source>Show &amp;details</source>
        <translation>Afficher les &amp;détails</translation>
    </message>
    <message>
        <source>Repair log</source>
        <translation>Journal de réparation</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Copier</translation>
    </message>
    <message>
        <source>S&amp;ave…</source>
        <translation>&amp;Enregistrer…</translation>
    </message>
    <message>
        <source>Open the Varnel home page in your web browser</source>
        <translation>Ouvrir le site de Varnel dans votre navigateur web</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>A&amp;ide</translation>
    </message>
    <message>
        <source>Check for &amp;Updates…</source>
        <translation>Rechercher des &amp;mises à jour…</translation>
    </message>
    <message>
        <source>Varnel &amp;Help</source>
        <translation>A&amp;ide de Varnel</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Save Log…</source>
        <translation>&amp;Enregistrer le journal…</translation>
    </message>
    <message>
        <source>&amp;About Varnel</source>
        <translation>À &amp;propos de Varnel</translation>
    </message>
    <message>
        <source>&amp;Check Without Repairing</source>
        <translation>&amp;Vérifier sans réparer</translation>
    </message>
</context>
<context>
    <name>RunNotifier</name>
    <message>
        <source>Repair complete</source>
        <translation>Réparation terminée</translation>
    </message>
    <message>
        <source>The repair did not finish</source>
        <translation>La réparation n’est pas allée à son terme</translation>
    </message>
</context>
<context>
    <name>app::AppDelegate</name>
    <message>
        <source>Repairing %1% — Varnel</source>
        <translation>Réparation %1 % — Varnel</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Jamais</translation>
    </message>
    <message>
        <source>Today</source>
        <translation>Aujourd’hui</translation>
    </message>
    <message>
        <source>Yesterday</source>
        <translation>Hier</translation>
    </message>
    <message>
        <source>1 day ago</source>
        <translation>Il y a 1 jour</translation>
    </message>
    <message numerus="yes">
        <source>%n days ago</source>
        <translation>
            <numerusform>Il y a %n jour</numerusform>
            <numerusform>Il y a %n jours</numerusform>
        </translation>
    </message>
    <message>
        <source>Varnel is only available if you are logged in using an admin account.
Please check your account type under Users &amp; Groups in Applications -&gt; System Preferences.
Some users have reported an issue after a recently applied Apple update which is resolved after rebooting their Mac.</source>
        <translation>Varnel n’est disponible que si vous êtes connecté avec un compte administrateur.
Vérifiez le type de votre compte dans « Utilisateurs et groupes », sous Applications -&gt; Préférences Système.
Certains utilisateurs ont signalé un problème après une mise à jour Apple récente, résolu en redémarrant leur Mac.</translation>
    </message>
    <message>
        <source>Administrators are the members of the group %1.</source>
        <translation>Les administrateurs sont les membres du groupe %1.</translation>
    </message>
    <message>
        <source>Administrators are the members of the groups %1.</source>
        <translation>Les administrateurs sont les membres des groupes %1.</translation>
    </message>
    <message>
        <source>Varnel is only available to administrators, and your account is not one.</source>
        <translation>Varnel est réservé aux administrateurs, et votre compte n’en est pas un.</translation>
    </message>
    <message>
        <source>An administrator can make your account a member; then log out and log in again for the change to take effect.</source>
        <translation>Un administrateur peut ajouter votre compte à l’un de ces groupes ; déconnectez-vous ensuite puis reconnectez-vous pour que la modification prenne effet.</translation>
    </message>
    <message>
        <source>Repair of the start-up disk started</source>
        <translation>Réparation du disque de démarrage commencée</translation>
    </message>
    <message>
        <source>The repair could not be started: %1</source>
        <translation>La réparation n’a pas pu être lancée : %1</translation>
    </message>
    <message>
        <source>The repair could not be started.

%1</source>
        <translation>La réparation n’a pas pu être lancée.

%1</translation>
    </message>
    <message>
        <source>Nothing needed repair</source>
        <translation>Rien n’avait besoin d’être réparé</translation>
    </message>
    <message>
        <source>1 file repaired</source>
        <translation>1 fichier réparé</translation>
    </message>
    <message>
        <source>%1 files repaired</source>
        <translation>%1 fichiers réparés</translation>
    </message>
    <message>
        <source>The repair is complete, but its time could not be saved in %1, so Varnel will not remember it after it quits.</source>
        <translation>La réparation est terminée, mais son heure n’a pas pu être enregistrée dans %1 ; Varnel l’aura oubliée une fois quitté.</translation>
    </message>
    <message>
        <source>The time of the last repair was left as it was.</source>
        <translation>La date de la dernière réparation n’a pas été modifiée.</translation>
    </message>
    <message>
        <source>Stopped by you</source>
        <translation>Arrêtée par vous</translation>
    </message>
    <message>
        <source>Stop the repair? Files repaired so far stay repaired.</source>
        <translation>Arrêter la réparation ? Les fichiers déjà réparés le restent.</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Arrêter</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continuer</translation>
    </message>
    <message>
        <source>Hide &amp;details</source>
        <translation>Masquer les &amp;détails</translation>
    </message>
    <message>
        <source>Show &amp;details</source>
        <translation>Afficher les &amp;détails</translation>
    </message>
    <message>
        <source>Save the Repair Log</source>
        <translation>Enregistrer le journal de réparation</translation>
    </message>
    <message>
        <source>Varnel repair log.txt</source>
        <translation>Journal de réparation Varnel.txt</translation>
    </message>
    <message>
        <source>Text files (*.txt);;All files (*)</source>
        <translation>Fichiers texte (*.txt);;Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1: %2</source>
        <translation>Le journal n’a pas pu être enregistré dans %1 : %2</translation>
    </message>
    <message>
        <source>Varnel repair log of %1</source>
        <translation>Journal de réparation Varnel du %1</translation>
    </message>
    <message>
        <source>Unable to check for updates, please visit %1 to download the latest version.</source>
        <translation>Impossible de rechercher des mises à jour ; rendez-vous sur %1 pour télécharger la dernière version.</translation>
    </message>
    <message>
        <source>No web browser could be opened. The address is:
%1</source>
        <translation>Aucun navigateur web n’a pu être ouvert. L’adresse est :
%1</translation>
    </message>
</context>
<context>
    <name>app::CheckRun</name>
    <message>
        <source>Checking permissions…</source>
        <translation>Vérification des autorisations…</translation>
    </message>
    <message>
        <source>Check complete: no file needs repair</source>
        <translation>Vérification terminée : aucun fichier n’a besoin d’être réparé</translation>
    </message>
    <message>
        <source>Check complete: 1 file differs and would be repaired</source>
        <translation>Vérification terminée : 1 fichier diffère et serait réparé</translation>
    </message>
    <message>
        <source>Check complete: %1 files differ and would be repaired</source>
        <translation>Vérification terminée : %1 fichiers diffèrent et seraient réparés</translation>
    </message>
    <message>
        <source>The check found no file whose permissions need repair. Nothing was changed.</source>
        <translation>La vérification n’a trouvé aucun fichier dont les autorisations ont besoin d’être réparées. Rien n’a été modifié.</translation>
    </message>
    <message>
        <source>The check found 1 file whose permissions differ from how it was installed.</source>
        <translation>La vérification a trouvé 1 fichier dont les autorisations diffèrent de celles de son installation.</translation>
    </message>
    <message>
        <source>The check found %1 files whose permissions differ from how they were installed.</source>
        <translation>La vérification a trouvé %1 fichiers dont les autorisations diffèrent de celles de leur installation.</translation>
    </message>
    <message>
        <source>Nothing was changed.</source>
        <translation>Rien n’a été modifié.</translation>
    </message>
    <message>
        <source>Repair now?</source>
        <translation>Réparer maintenant ?</translation>
    </message>
    <message>
        <source>Repair Now</source>
        <translation>Réparer maintenant</translation>
    </message>
    <message>
        <source>Not Now</source>
        <translation>Pas maintenant</translation>
    </message>
    <message>
        <source>Checking %1% — Varnel</source>
        <translation>Vérification %1 % — Varnel</translation>
    </message>
    <message>
        <source>Check of the start-up disk started</source>
        <translation>Vérification du disque de démarrage commencée</translation>
    </message>
    <message>
        <source>The check could not be started: %1</source>
        <translation>La vérification n’a pas pu être lancée : %1</translation>
    </message>
    <message>
        <source>The check could not be started.

%1</source>
        <translation>La vérification n’a pas pu être lancée.

%1</translation>
    </message>
    <message>
        <source>Stop the check? Nothing has been changed.</source>
        <translation>Arrêter la vérification ? Rien n’a été modifié.</translation>
    </message>
</context>
<context>
    <name>app::FailedRun</name>
    <message>
        <source>The request for an administrator&apos;s password was cancelled, so nothing was changed.</source>
        <translation>La demande du mot de passe d’un administrateur a été annulée ; rien n’a été modifié.</translation>
    </message>
    <message>
        <source>To repair, press Scan and Repair again and enter an administrator&apos;s password when asked.</source>
        <translation>Pour réparer, cliquez de nouveau sur « Analyser et réparer » et saisissez le mot de passe d’un administrateur lorsqu’il vous est demandé.</translation>
    </message>
    <message>
        <source>Varnel could not ask for an administrator&apos;s password: no password prompt can be shown in this session, so nothing was changed.</source>
        <translation>Varnel n’a pas pu demander le mot de passe d’un administrateur : aucune demande de mot de passe ne peut être affichée dans cette session. Rien n’a été modifié.</translation>
    </message>
    <message>
        <source>Start Varnel from a desktop session, or run the repair in a terminal:
%1</source>
        <translation>Lancez Varnel depuis une session de bureau, ou exécutez la réparation dans un terminal :
%1</translation>
    </message>
    <message>
        <source>The password was not accepted, or this account may not repair the system, so nothing was changed.</source>
        <translation>Le mot de passe n’a pas été accepté, ou ce compte n’a pas le droit de réparer le système. Rien n’a été modifié.</translation>
    </message>
    <message>
        <source>Press Scan and Repair again and enter an administrator&apos;s password, or let an administrator run the repair in a terminal:
%1</source>
        <translation>Cliquez de nouveau sur « Analyser et réparer » et saisissez le mot de passe d’un administrateur, ou demandez à un administrateur d’exécuter la réparation dans un terminal :
%1</translation>
    </message>
    <message>
        <source>Varnel could not ask for an administrator&apos;s password because pkexec could not be started, so nothing was changed.</source>
        <translation>Varnel n’a pas pu demander le mot de passe d’un administrateur, car pkexec n’a pas pu être lancé. Rien n’a été modifié.</translation>
    </message>
    <message>
        <source>Install pkexec, or run the repair in a terminal:
%1</source>
        <translation>Installez pkexec, ou exécutez la réparation dans un terminal :
%1</translation>
    </message>
    <message>
        <source>Varnel could not get an administrator&apos;s permission to repair, so nothing was changed.</source>
        <translation>Varnel n’a pas obtenu l’autorisation d’un administrateur pour réparer ; rien n’a été modifié.</translation>
    </message>
    <message>
        <source>The repair did not finish: the repair tool %1 was stopped by a signal.</source>
        <translation>La réparation n’est pas allée à son terme : l’outil de réparation %1 a été arrêté par un signal.</translation>
    </message>
    <message>
        <source>The repair did not finish: the repair tool %1 ended with exit status %2.</source>
        <translation>La réparation n’est pas allée à son terme : l’outil de réparation %1 s’est terminé avec le code de sortie %2.</translation>
    </message>
    <message>
        <source>The tool said: %1</source>
        <translation>Message de l’outil : %1</translation>
    </message>
    <message>
        <source>The check did not finish: the repair tool %1 was stopped by a signal.</source>
        <translation>La vérification n’est pas allée à son terme : l’outil de réparation %1 a été arrêté par un signal.</translation>
    </message>
    <message>
        <source>The check did not finish: the repair tool %1 ended with exit status %2.</source>
        <translation>La vérification n’est pas allée à son terme : l’outil de réparation %1 s’est terminé avec le code de sortie %2.</translation>
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
        <translation>1 ligne antérieure non conservée</translation>
    </message>
    <message>
        <source>%1 earlier lines not kept</source>
        <translation>%1 lignes antérieures non conservées</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Repairs the permissions of the files on the start-up disk.</source>
        <translation>Répare les autorisations des fichiers du disque de démarrage.</translation>
    </message>
</context>
<context>
    <name>repair::repairPermissions</name>
    <message>
        <source>The repair tool %1 does not exist.</source>
        <translation>L’outil de réparation %1 n’existe pas.</translation>
    </message>
    <message>
        <source>The repair tool %1 is a folder, not a program.</source>
        <translation>L’outil de réparation %1 est un dossier, pas un programme.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not a program.</source>
        <translation>L’outil de réparation %1 n’est pas un programme.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not executable.</source>
        <translation>L’outil de réparation %1 n’est pas exécutable.</translation>
    </message>
    <message>
        <source>The repair tool %1 is not a program this system can run.</source>
        <translation>L’outil de réparation %1 n’est pas un programme que ce système peut exécuter.</translation>
    </message>
    <message>
        <source>The repair tool %1 could not be started: %2.</source>
        <translation>L’outil de réparation %1 n’a pas pu être lancé : %2.</translation>
    </message>
    <message>
        <source>The repair tool %1 could not be started: %2</source>
        <translation>L’outil de réparation %1 n’a pas pu être lancé : %2</translation>
    </message>
    <message>
        <source>The repair tool %1 did not start within %2 seconds.</source>
        <translation>L’outil de réparation %1 n’a pas démarré dans les %2 secondes.</translation>
    </message>
</context>
<context>
    <name>update::Appcast</name>
    <message>
        <source>the feed declares a document type, which is not accepted</source>
        <translation>le flux déclare un type de document, ce qui n’est pas accepté</translation>
    </message>
    <message>
        <source>the feed is nested too deeply</source>
        <translation>le flux est imbriqué trop profondément</translation>
    </message>
    <message>
        <source>the document is not an RSS feed</source>
        <translation>le document n’est pas un flux RSS</translation>
    </message>
</context>
<context>
    <name>update::MessageBoxPresenter</name>
    <message>
        <source>You&apos;re up to date!

%1 %2 is the newest version available.</source>
        <translation>Vous êtes à jour !

%1 %2 est la dernière version disponible.</translation>
    </message>
    <message>
        <source>A new version of %1 is available!

%1 %2 is now available; you have %3.</source>
        <translation>Une nouvelle version de %1 est disponible !

%1 %2 est maintenant disponible ; vous avez la version %3.</translation>
    </message>
    <message>
        <source> Would you like to open its download page?</source>
        <translation> Voulez-vous ouvrir sa page de téléchargement ?</translation>
    </message>
    <message>
        <source>The check for updates failed.

%1</source>
        <translation>La recherche de mises à jour a échoué.

%1</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Mise à jour de logiciels</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Télécharger</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
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
        <translation>Le serveur de mises à jour n’a pas répondu à temps.</translation>
    </message>
    <message>
        <source>No valid address of the update feed is set.</source>
        <translation>Aucune adresse valide du flux de mises à jour n’est définie.</translation>
    </message>
    <message>
        <source>The update server answered with HTTP status %1.</source>
        <translation>Le serveur de mises à jour a répondu avec le statut HTTP %1.</translation>
    </message>
    <message>
        <source>The update feed is larger than 1 MiB.</source>
        <translation>Le flux de mises à jour dépasse 1 Mio.</translation>
    </message>
    <message>
        <source>The update server redirected too many times.</source>
        <translation>Le serveur de mises à jour a redirigé trop de fois.</translation>
    </message>
    <message>
        <source>The update server redirected to an address that is not allowed.</source>
        <translation>Le serveur de mises à jour a redirigé vers une adresse non autorisée.</translation>
    </message>
    <message>
        <source>The update server could not be reached (%1).</source>
        <translation>Le serveur de mises à jour est injoignable (%1).</translation>
    </message>
    <message>
        <source>The update feed could not be read (%1).</source>
        <translation>Le flux de mises à jour n’a pas pu être lu (%1).</translation>
    </message>
    <message>
        <source>The update feed could not be read (it names no release version).</source>
        <translation>Le flux de mises à jour n’a pas pu être lu (il n’indique aucun numéro de version).</translation>
    </message>
</context>
</TS>
