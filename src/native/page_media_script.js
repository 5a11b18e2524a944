(() => {
    const pageWorld = false;
    const want = {};
    const host = location.hostname;
    // The page media script. BrowserMediaVolume::javaScript keeps everything from the "};"
    // that closes `want` above to the end of this file, and writes its own `pageWorld` and `want` in front.
    const on = (site) => host === site || host.endsWith('.' + site);
    const muteKey = ['m', 'KeyM', 77];

    const press = (element, [key, code, keyCode]) => {
        element.dispatchEvent(new KeyboardEvent('keydown', {
            key, code, keyCode, which: keyCode, bubbles: true, cancelable: true, composed: true
        }));
    };

    const marked = (media) => media.dataset.velorithMedia === '1';
    const aloud = (media) => !media.paused && !media.ended && !media.muted && media.volume > 0;
    // Muted looping or autoplaying clips are page decoration, not something the user listens to.
    const hasPlayed = (media) => media.currentTime > 0 && !(media.muted && (media.loop || media.autoplay));

    const listenedMedia = () => {
        const all = Array.from(document.querySelectorAll('video, audio'));
        return all.find((media) => marked(media) && aloud(media))
            || all.find(aloud)
            || all.find(marked)
            || all.find(hasPlayed)
            || null;
    };

    const direct = (media) => {
        if (!media) {
            return null;
        }
        return {
            media,
            set(w) {
                media.volume = w.volume / 100;
                media.muted = w.muted;
                media.dataset.velorithMedia = '1';
            },
            read() {
                return {volume: Math.round(media.volume * 100), muted: media.muted};
            }
        };
    };

    const labelText = (element) => [
        element.getAttribute('aria-label'),
        element.getAttribute('title'),
        element.getAttribute('name'),
        element.id,
        element.getAttribute('data-a-target'),
        ...Array.from(element.labels || [], (label) => label.textContent)
    ].join(' ');
    const isVolumeSlider = (element) => /volume/i.test(labelText(element));
    const isMuteButton = (element) => {
        const label = (element.getAttribute('aria-label') || element.getAttribute('title') || '').trim();
        return /^(un)?mute\b[^@]{0,12}$/i.test(label);
    };

    // The site's own control near the media: from its parent up through eight ancestors, the first level
    // that holds one wins, and within it the first in document order.
    const nearby = (media, selector, accept) => {
        let level = media.parentElement;
        for (let depth = 0; level && depth < 8; depth += 1) {
            const found = Array.from(level.querySelectorAll(selector)).find(accept);
            if (found) {
                return found;
            }
            level = level.parentElement;
        }
        return null;
    };

    const numberOr = (text, fallback) => {
        const value = parseFloat(text);
        return Number.isNaN(value) ? fallback : value;
    };

    const viaSite = (media) => {
        if (!media) {
            return null;
        }
        const slider = nearby(media, 'input[type=range]', isVolumeSlider);
        const muteButton = nearby(media, 'button, [role=button]', isMuteButton);
        const low = slider ? numberOr(slider.min, 0) : 0;
        const span = slider ? numberOr(slider.max, 100) - low : 0;
        const level = () => (parseFloat(slider.value) - low) / span;
        const useSlider = slider !== null && span > 0 && Number.isFinite(level());
        let pending = null;

        const current = () => {
            if (!media.muted) {
                return useSlider ? level() : media.volume;
            }
            // Sites such as Twitch zero their volume while muted: report the level unmuting restores.
            const remembered = parseFloat(media.dataset.velorithVolume);
            return media.volume === 0 && Number.isFinite(remembered) ? remembered : media.volume;
        };

        const toggleMute = (w) => {
            if (media.muted === w.muted) {
                return;
            }
            if (muteButton) {
                muteButton.click();
            } else if (on('kick.com')) {
                // Kick hides its controls until hovered; its keyboard shortcut works regardless.
                press(document.body, muteKey);
            } else {
                media.muted = w.muted;
            }
        };

        return {
            media,
            set(w) {
                const wanted = w.volume / 100;
                const changing = Math.abs(current() - wanted) > 0.02;
                const volumeBefore = media.volume;
                media.dataset.velorithMedia = '1';
                media.dataset.velorithVolume = String(wanted);
                pending = w;
                // Sites restore or zero their volume when mute toggles: unmute before, mute after the change.
                if (!w.muted) {
                    toggleMute(w);
                }
                if (useSlider) {
                    if (changing) {
                        // The prototype's setter, so that page frameworks with controlled inputs see a change.
                        const setValue = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value').set;
                        setValue.call(slider, String(low + span * wanted));
                        slider.dispatchEvent(new Event('input', {bubbles: true}));
                        slider.dispatchEvent(new Event('change', {bubbles: true}));
                    }
                } else {
                    media.volume = wanted;
                }
                if (w.muted) {
                    toggleMute(w);
                }
                setTimeout(() => {
                    const ignored = useSlider
                        ? (changing && media.volume === volumeBefore)
                            || (!media.muted && Math.abs(level() - wanted) > 0.02)
                        : Math.abs(media.volume - wanted) > 0.02;
                    if (ignored) {
                        media.volume = wanted;
                    }
                    if (media.muted !== w.muted) {
                        media.muted = w.muted;
                    }
                }, 250);
            },
            read() {
                const now = String(current());
                if (!media.muted && media.dataset.velorithVolume !== now) {
                    media.dataset.velorithVolume = now;
                }
                if (pending) {
                    return pending;
                }
                return {volume: Math.round(current() * 100), muted: media.muted};
            }
        };
    };

    const playerAPI = (player, media) => {
        const calls = ['getVolume', 'setVolume', 'isMuted', 'mute', 'unMute'];
        if (!pageWorld || !player || !calls.every((name) => typeof player[name] === 'function')) {
            return null;
        }
        return {
            media,
            set(w) {
                player.setVolume(w.volume);
                if (w.muted) {
                    player.mute();
                } else {
                    player.unMute();
                }
            },
            read() {
                return {volume: player.getVolume(), muted: player.isMuted()};
            }
        };
    };

    const shortcuts = (media, target, read, up, down, halfStep) => ({
        media,
        read,
        set(w) {
            for (let attempt = 0; attempt < 25; attempt += 1) {
                const before = read().volume;
                const diff = w.volume - before;
                if (Math.abs(diff) <= halfStep) {
                    break;
                }
                press(target, diff > 0 ? up : down);
                const after = read().volume;
                if (after === before) {
                    break;
                }
                if (Math.abs(w.volume - after) >= Math.abs(diff)) {
                    press(target, diff > 0 ? down : up);
                    break;
                }
            }
            if (read().muted !== w.muted) {
                press(target, muteKey);
            }
        }
    });

    const youTube = () => {
        const player = document.getElementById('movie_player');
        const video = document.querySelector('#movie_player video');
        const api = playerAPI(player, video);
        if (api) {
            return api;
        }
        if (!video) {
            return null;
        }
        const panel = player ? player.querySelector('.ytp-volume-panel') : null;
        const sliderValue = () => parseFloat(panel ? panel.getAttribute('aria-valuenow') : NaN);
        if (player && Number.isFinite(sliderValue())) {
            // Each arrow press moves YouTube's volume by 5.
            return shortcuts(video, player, () => ({volume: sliderValue(), muted: video.muted}),
                ['ArrowUp', 'ArrowUp', 38], ['ArrowDown', 'ArrowDown', 40], 2.5);
        }
        return direct(video);
    };

    const youTubeMusic = () => {
        const video = document.querySelector('video');
        const api = playerAPI(document.getElementById('movie_player'), video);
        if (api) {
            return api;
        }
        if (!video) {
            return null;
        }
        // These keys step the volume by about a quarter (100, 74, 55, 40 …): stop at the nearest step.
        return shortcuts(video, document.querySelector('ytmusic-app') || document.body,
            () => ({volume: Math.round(video.volume * 100), muted: video.muted}),
            ['=', 'Equal', 187], ['-', 'Minus', 189], 0);
    };

    const netflix = () => {
        const video = document.querySelector('video');
        if (pageWorld) {
            try {
                const api = window.netflix.appContext.state.playerApp.getAPI().videoPlayer;
                const sessions = api.getAllPlayerSessionIds();
                const player = api.getVideoPlayerBySessionId(sessions[sessions.length - 1]);
                if (typeof player.setVolume === 'function') {
                    return {
                        media: video,
                        set(w) {
                            player.setVolume(w.volume / 100);
                            player.setMuted(w.muted);
                        },
                        read() {
                            return {volume: Math.round(player.getVolume() * 100), muted: player.isMuted()};
                        }
                    };
                }
            } catch (error) {
                // No usable player API on this page: the video itself is the control.
            }
        }
        return direct(video);
    };

    const chooseControl = () => {
        if (on('music.youtube.com')) {
            return youTubeMusic();
        }
        if (on('youtube.com')) {
            return youTube();
        }
        if (on('netflix.com')) {
            return netflix();
        }
        return viaSite(listenedMedia());
    };

    const control = chooseControl();
    if (!control) {
        return 'skip';
    }

    const root = document.documentElement;
    if (!/^[a-z0-9]{4,40}$/.test(root.dataset.velorithTab || '')) {
        root.dataset.velorithTab = Date.now().toString(36) + Math.random().toString(36).slice(2, 10);
    }
    const key = root.dataset.velorithTab;
    if (Object.prototype.hasOwnProperty.call(want, key)) {
        control.set(want[key]);
    }
    const state = control.read();
    if (typeof state.volume !== 'number' || !Number.isFinite(state.volume) || state.volume < 0
        || state.volume > 100 || typeof state.muted !== 'boolean') {
        return 'skip';
    }
    const media = control.media;
    return JSON.stringify({
        key,
        title: String(document.title).replace(/ [-|] (YouTube Music|YouTube|Twitch)$/, ''),
        url: location.href ? String(location.href) : '',
        playing: Boolean(media && !media.paused && !media.ended),
        visible: document.visibilityState === 'visible',
        volume: state.volume,
        muted: state.muted
    });
})()
