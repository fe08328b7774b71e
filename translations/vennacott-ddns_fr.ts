<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Could not save changes while quitting. Quit anyway?</source>
        <extracomment>Quit without saves error question message</extracomment>
        <translation>Impossible d’enregistrer les modifications en quittant. Quitter quand même&#xa0;?</translation>
    </message>
    <message>
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <extracomment>Quit without saves error question info</extracomment>
        <translation>Si vous quittez maintenant, les modifications faites depuis le dernier enregistrement réussi seront perdues</translation>
    </message>
    <message>
        <source>Quit anyway</source>
        <extracomment>Quit anyway button title</extracomment>
        <translation>Quitter quand même</translation>
    </message>
    <message>
        <source>Cancel</source>
        <extracomment>Cancel button title</extracomment>
        <translation>Annuler</translation>
    </message>
</context>
<context>
    <name>DoneScreen</name>
    <message>
        <source>Host registered</source>
        <translation>Hôte enregistré</translation>
    </message>
    <message>
        <source>&lt;h2&gt;All set&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Tout est prêt&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>All set</source>
        <translation>Tout est prêt</translation>
    </message>
    <message>
        <source>This computer can be reached as:</source>
        <translation>Cet ordinateur est joignable sous le nom&#xa0;:</translation>
    </message>
    <message>
        <source>Registered host name</source>
        <translation>Nom d’hôte enregistré</translation>
    </message>
    <message>
        <source>Its address is updated every 10 seconds while Vennacott DDNS runs. Hide this window to keep it running; Close stops the updates.</source>
        <translation>Son adresse est mise à jour toutes les 10 secondes tant que Vennacott DDNS fonctionne. Masquez cette fenêtre pour le laisser tourner&#xa0;; «&#xa0;Fermer&#xa0;» arrête les mises à jour.</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Réinitialiser</translation>
    </message>
    <message>
        <source>Reset: forget this host name</source>
        <translation>Réinitialiser&#xa0;: oublier ce nom d’hôte</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Fermer</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fermer Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Hide</source>
        <translation>&amp;Masquer</translation>
    </message>
    <message>
        <source>Hide the window and keep updating</source>
        <translation>Masquer la fenêtre et continuer les mises à jour</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>En attente de la première mise à jour</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>updated</source>
        <translation>mis à jour</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>refusé</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>pas de réponse</translation>
    </message>
    <message>
        <source>not running</source>
        <translation>arrêté</translation>
    </message>
    <message>
        <source>Either family</source>
        <translation>Les deux familles</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 days %2 h</source>
        <translation>%1 jours %2 h</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Chronologie</translation>
    </message>
    <message>
        <source>The same changes are listed in the tables below.</source>
        <translation>Les mêmes changements figurent dans les tableaux ci-dessous.</translation>
    </message>
    <message>
        <source>now</source>
        <translation>maintenant</translation>
    </message>
    <message>
        <source>%1  %2: %3, %4</source>
        <translation>%1  %2: %3, %4</translation>
    </message>
    <message>
        <source>no address</source>
        <translation>aucune adresse</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Historique</translation>
    </message>
    <message>
        <source>&amp;Show:</source>
        <translation>&amp;Afficher :</translation>
    </message>
    <message>
        <source>Last day</source>
        <translation>Dernier jour</translation>
    </message>
    <message>
        <source>Last week</source>
        <translation>Dernière semaine</translation>
    </message>
    <message>
        <source>Last month</source>
        <translation>Dernier mois</translation>
    </message>
    <message>
        <source>Nothing kept yet: the history starts with the updater&apos;s first update.</source>
        <translation>Rien d’enregistré pour l’instant : l’historique commence à la première mise à jour.</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>First seen</source>
        <translation>Vue la première fois</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Vue la dernière fois</translation>
    </message>
    <message>
        <source>How long</source>
        <translation>Durée</translation>
    </message>
    <message>
        <source>%1 addresses</source>
        <translation>Adresses %1</translation>
    </message>
    <message>
        <source>still in use</source>
        <translation>toujours utilisée</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Choose a host name</source>
        <translation>Choisir un nom d’hôte</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Choose a host name&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Choisir un nom d’hôte&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>This computer&apos;s public address will be kept up to date under this name.</source>
        <translation>L’adresse publique de cet ordinateur sera tenue à jour sous ce nom.</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>Nom d’hôte</translation>
    </message>
    <message>
        <source>my-computer</source>
        <translation>mon-ordinateur</translation>
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
        <translation>⚠ Ce nom d’hôte n’est pas disponible. Veuillez en choisir un autre.</translation>
    </message>
    <message>
        <source>Warning: host name not available</source>
        <translation>Avertissement&#xa0;: nom d’hôte non disponible</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fermer Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Register</source>
        <translation>&amp;Enregistrer</translation>
    </message>
    <message>
        <source>Register host name</source>
        <translation>Enregistrer le nom d’hôte</translation>
    </message>
</context>
<context>
    <name>MainMenu</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Enregistrer</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Update now</source>
        <translation>&amp;Mettre à jour maintenant</translation>
    </message>
    <message>
        <source>Sign &amp;out</source>
        <translation>Se &amp;déconnecter</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>&amp;About Vennacott DDNS</source>
        <translation>À &amp;propos de Vennacott DDNS</translation>
    </message>
    <message>
        <source>IPv4 and IPv6</source>
        <translation>IPv4 et IPv6</translation>
    </message>
    <message>
        <source>IPv4 only</source>
        <translation>IPv4 uniquement</translation>
    </message>
    <message>
        <source>IPv6 only</source>
        <translation>IPv6 uniquement</translation>
    </message>
    <message>
        <source>Keep sign-in in the system &amp;keyring</source>
        <translation>Garder la connexion dans le &amp;trousseau du système</translation>
    </message>
    <message>
        <source>&amp;History</source>
        <translation>&amp;Historique</translation>
    </message>
</context>
<context>
    <name>Notifier</name>
    <message>
        <source>Updates of %1 fail</source>
        <translation>Les mises à jour de %1 échouent</translation>
    </message>
    <message>
        <source>Updates of %1 work again</source>
        <translation>Les mises à jour de %1 fonctionnent à nouveau</translation>
    </message>
    <message>
        <source>%1 now points at %2</source>
        <translation>%1 pointe désormais vers %2</translation>
    </message>
    <message>
        <source>The service saw %1 before.</source>
        <translation>Auparavant, le service voyait %1.</translation>
    </message>
    <message>
        <source>%1 now points at %2 over %3</source>
        <translation>%1 pointe désormais vers %2 en %3</translation>
    </message>
</context>
<context>
    <name>SignInScreen</name>
    <message>
        <source>Sign in</source>
        <translation>Connexion</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Sign in&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Connexion&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Sign in with your Vennacott account to keep a host name pointing at this computer.</source>
        <translation>Connectez-vous avec votre compte Vennacott pour qu’un nom d’hôte pointe toujours vers cet ordinateur.</translation>
    </message>
    <message>
        <source>&amp;E-mail:</source>
        <translation>Adresse &amp;e-mail&#xa0;:</translation>
    </message>
    <message>
        <source>you@example.org</source>
        <translation>vous@example.org</translation>
    </message>
    <message>
        <source>E-mail address</source>
        <translation>Adresse e-mail</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>Mot de &amp;passe&#xa0;:</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Mot de passe</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Close Vennacott DDNS</source>
        <translation>Fermer Vennacott DDNS</translation>
    </message>
    <message>
        <source>&amp;Sign in</source>
        <translation>Se &amp;connecter</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Not set up: sign in and choose a host name in the window</source>
        <translation>Non configuré&#xa0;: connectez-vous et choisissez un nom d’hôte dans la fenêtre</translation>
    </message>
    <message>
        <source>Show window</source>
        <translation>Afficher la fenêtre</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Lancer à l’ouverture de session</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Notifications</translation>
    </message>
</context>
<context>
    <name>UpdaterStatus</name>
    <message>
        <source>the stored update link does not make a valid address</source>
        <translation>le lien de mise à jour enregistré ne forme pas une adresse valide</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>code HTTP %1</translation>
    </message>
    <message>
        <source>the update server&apos;s reply is not a JSON object</source>
        <translation>la réponse du serveur de mise à jour n’est pas un objet JSON</translation>
    </message>
    <message>
        <source>Waiting for the first update</source>
        <translation>En attente de la première mise à jour</translation>
    </message>
    <message>
        <source>Updated at %1</source>
        <translation>Mis à jour à %1</translation>
    </message>
    <message>
        <source>Updated at %1 — the service sees %2</source>
        <translation>Mis à jour à %1 — le service voit %2</translation>
    </message>
    <message>
        <source>The update server refused the last update at %1: %2</source>
        <translation>Le serveur de mise à jour a refusé la dernière mise à jour à %1&#xa0;: %2</translation>
    </message>
    <message numerus="yes">
        <source>No answer from the update server since %1; trying again every %n seconds</source>
        <translation>
            <numerusform>Aucune réponse du serveur de mise à jour depuis %1&#xa0;; nouvel essai à intervalle de %n seconde</numerusform>
            <numerusform>Aucune réponse du serveur de mise à jour depuis %1&#xa0;; nouvel essai à intervalle de %n secondes</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 et %2</translation>
    </message>
    <message>
        <source>sent through the VPN interface %1: the service may have recorded the VPN&apos;s address</source>
        <translation>envoyé par l&apos;interface VPN %1 : le service a peut-être enregistré l&apos;adresse du VPN</translation>
    </message>
    <message>
        <source>your provider shares this address between customers: connections from the internet may not reach this computer</source>
        <translation>votre fournisseur partage cette adresse entre plusieurs clients : les connexions depuis Internet risquent de ne pas atteindre cet ordinateur</translation>
    </message>
    <message>
        <source>the service saw the private address %1: connections from the internet cannot reach it</source>
        <translation>le service a vu l&apos;adresse privée %1 : les connexions depuis Internet ne peuvent pas l&apos;atteindre</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1&#xa0;: %2</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Signing in…</source>
        <translation>Connexion…</translation>
    </message>
    <message>
        <source>The e-mail address or password was not accepted.</source>
        <translation>L’adresse e-mail ou le mot de passe n’a pas été accepté.</translation>
    </message>
    <message>
        <source>Registering…</source>
        <translation>Enregistrement…</translation>
    </message>
    <message>
        <source>The service could not be reached. Check the network connection and try again.</source>
        <translation>Le service est injoignable. Vérifiez la connexion réseau et réessayez.</translation>
    </message>
</context>
<context>
    <name>vennacott::AboutDialog</name>
    <message>
        <source>About Vennacott DDNS</source>
        <translation>À propos de Vennacott DDNS</translation>
    </message>
    <message>
        <source>Service:</source>
        <translation>Service&#xa0;:</translation>
    </message>
    <message>
        <source>API %1
Updates %2
Zone %3</source>
        <translation>API %1
Mises à jour %2
Zone %3</translation>
    </message>
    <message>
        <source>Settings:</source>
        <translation>Paramètres&#xa0;:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>État&#xa0;:</translation>
    </message>
    <message>
        <source>History:</source>
        <translation>Historique&#xa0;:</translation>
    </message>
    <message>
        <source>%1 (kept once the updater writes it)</source>
        <translation>%1 (créé dès que la mise à jour l’écrit)</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1&#xa0;: %2</translation>
    </message>
    <message>
        <source>Keys:</source>
        <translation>Raccourcis&#xa0;:</translation>
    </message>
    <message>
        <source>Licence:</source>
        <translation>Licence&#xa0;:</translation>
    </message>
    <message>
        <source>Licence</source>
        <translation>Licence</translation>
    </message>
</context>
<context>
    <name>vennacott::Settings</name>
    <message>
        <source>No system keyring is running, so the sign-in kept there cannot be read. It is tried again every few seconds.</source>
        <translation>Aucun trousseau du système n’est en marche : la connexion qui y est gardée ne peut pas être lue. Nouvel essai toutes les quelques secondes.</translation>
    </message>
    <message>
        <source>The system keyring is locked, so the sign-in kept there cannot be read yet. It is read as soon as the keyring is unlocked.</source>
        <translation>Le trousseau du système est verrouillé : la connexion qui y est gardée ne peut pas encore être lue. Elle sera lue dès que le trousseau sera déverrouillé.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: no keyring is running.</source>
        <translation>La connexion n’a pas pu être gardée dans le trousseau du système : aucun trousseau n’est en marche.</translation>
    </message>
    <message>
        <source>The sign-in could not be kept in the system keyring: it is locked.</source>
        <translation>La connexion n’a pas pu être gardée dans le trousseau du système : il est verrouillé.</translation>
    </message>
    <message>
        <source>The sign-in can move back to the settings file only once the system keyring can be read.</source>
        <translation>La connexion ne peut revenir dans le fichier de réglages qu’une fois le trousseau du système lisible.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: no system keyring is running.</source>
        <translation>La connexion reste dans le fichier de réglages : aucun trousseau du système n’est en marche.</translation>
    </message>
    <message>
        <source>The sign-in stays in the settings file: the system keyring is locked.</source>
        <translation>La connexion reste dans le fichier de réglages : le trousseau du système est verrouillé.</translation>
    </message>
</context>
</TS>
