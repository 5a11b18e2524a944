// Sonaric's browser extension: keeps a native-messaging port to Sonaric open (through the small host program
// Sonaric installs) and answers Sonaric's two requests: the windows and tabs of this browser, and one run of the
// page media script in one tab with the wanted volumes. The script is the copy shipped inside this extension;
// Sonaric sends only data (which tab, which world, the wanted states), never code. Nothing runs in a page
// unless Sonaric asks for that tab.

import { pageMediaScript, pageMediaScriptDigest } from './page_media_script.js';

const hostName = 'org.sonaric.browser_bridge';
// Replies travel back through the host, which passes nothing above 1 MiB; keep well under it.
const maximumReply = 900 * 1024;
const maximumTitle = 512;
const maximumURL = 4096;
const keyPattern = /^[a-z0-9]{4,40}$/;

let port = null;
let retryDelay = 500;
let retryTimer = null;

function scheduleReconnect() {
    if (retryTimer !== null) {
        return;
    }
    retryTimer = setTimeout(() => {
        retryTimer = null;
        connect();
    }, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 30000);
}

function connect() {
    if (port !== null) {
        return;
    }
    let opened;
    try {
        opened = chrome.runtime.connectNative(hostName);
    } catch (error) {
        scheduleReconnect();
        return;
    }
    port = opened;
    opened.onMessage.addListener((message) => onMessage(opened, message));
    opened.onDisconnect.addListener(() => {
        // Reading lastError marks it handled: a missing host or a Sonaric that is not running is expected.
        void chrome.runtime.lastError;
        if (port === opened) {
            port = null;
        }
        scheduleReconnect();
    });
    opened.postMessage({
        type: 'hello',
        version: chrome.runtime.getManifest().version,
        scriptDigest: pageMediaScriptDigest
    });
}

function send(to, message) {
    if (port === to) {
        try {
            to.postMessage(message);
        } catch (error) {
            // The port closed meanwhile; onDisconnect reconnects.
        }
    }
}

async function onMessage(from, message) {
    if (typeof message !== 'object' || message === null) {
        return;
    }
    if (message.type === 'welcome') {
        retryDelay = 500;
        return;
    }
    if (!Number.isSafeInteger(message.id)) {
        return;
    }
    let reply;
    try {
        if (message.type === 'tabs') {
            reply = await listTabs();
        } else if (message.type === 'execute') {
            reply = await execute(message);
        } else {
            reply = { error: 'unknown-request' };
        }
    } catch (error) {
        reply = { error: 'failed', message: String(error && error.message ? error.message : error) };
    }
    send(from, Object.assign({ id: message.id }, reply));
}

function clip(text, length) {
    const value = typeof text === 'string' ? text : '';
    return value.length > length ? value.slice(0, length) : value;
}

async function listTabs() {
    const windows = await chrome.windows.getAll({ populate: true, windowTypes: ['normal', 'popup', 'app'] });
    return {
        windows: windows.map((window) => {
            const tabs = window.tabs || [];
            const active = tabs.findIndex((tab) => tab.active);
            return {
                active: active + 1,
                tabs: tabs.map((tab) => ({
                    id: tab.id,
                    url: clip(tab.url, maximumURL),
                    title: clip(tab.title, maximumTitle)
                }))
            };
        })
    };
}

// The wanted states exactly as the page script expects them, or null when anything is off.
function wantedStates(want) {
    if (typeof want !== 'object' || want === null || Array.isArray(want)) {
        return null;
    }
    const clean = {};
    for (const [key, state] of Object.entries(want)) {
        if (!keyPattern.test(key) || typeof state !== 'object' || state === null
            || !Number.isInteger(state.volume) || state.volume < 0 || state.volume > 100
            || typeof state.muted !== 'boolean') {
            return null;
        }
        clean[key] = { volume: state.volume, muted: state.muted };
    }
    return clean;
}

async function execute(message) {
    const want = wantedStates(message.want);
    if (!Number.isSafeInteger(message.tabId) || (message.world !== 'ISOLATED' && message.world !== 'MAIN')
        || typeof message.pageWorld !== 'boolean' || want === null) {
        return { error: 'bad-request' };
    }
    let results;
    try {
        results = await chrome.scripting.executeScript({
            target: { tabId: message.tabId, frameIds: [0] },
            world: message.world,
            injectImmediately: true,
            func: pageMediaScript,
            args: [message.pageWorld, want]
        });
    } catch (error) {
        const text = String(error && error.message ? error.message : error);
        if (/No tab with id|tab was closed|No frame with id/i.test(text)) {
            return { error: 'no-such-tab' };
        }
        if (/showing error page/i.test(text)) {
            return { missing: true };
        }
        if (/Cannot access|must request permission|cannot be scripted/i.test(text)) {
            return { error: 'no-access', message: text };
        }
        return { error: 'failed', message: text };
    }
    const result = results && results[0] ? results[0].result : undefined;
    if (typeof result !== 'string') {
        return { missing: true };
    }
    if (result.length > maximumReply) {
        return { error: 'too-large' };
    }
    return { result };
}

// An open port keeps this service worker alive; without one (Sonaric not running), the alarm wakes it to try
// again, and startup, installation and reloads connect at once.
chrome.alarms.create('sonaric-reconnect', { periodInMinutes: 0.5 });
chrome.alarms.onAlarm.addListener(() => connect());
chrome.runtime.onStartup.addListener(() => connect());
chrome.runtime.onInstalled.addListener(() => connect());
connect();
