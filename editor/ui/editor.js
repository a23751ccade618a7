// The program's own script, run in its own world of the viewer and the editor. The page's own
// scripts never run; this one edits the document and reports changes to the program.
(function () {
    if (window.zel) return;
    var bridge = null;
    if (typeof QWebChannel !== 'undefined' && typeof qt !== 'undefined' && qt.webChannelTransport) {
        new QWebChannel(qt.webChannelTransport, function (channel) {
            bridge = channel.objects.bridge;
            window.zelChannel = channel;
            if (window.zel && window.zel.channelReady) window.zel.channelReady(channel);
        });
    }
    function changed() {
        if (window.zel.editing && bridge) bridge.modified();
    }
    window.zel = {
        editing: false,
        // Design mode on; pictures present now are stored already and are not captured again.
        startEditing: function () {
            if (document.designMode !== 'on') document.designMode = 'on';
            this.editing = true;
            var images = document.images;
            for (var i = 0; i < images.length; ++i) images[i].setAttribute('save', 'true');
            return true;
        },
        // The document without the helper attributes, as it is stored.
        html: function () {
            var root = document.documentElement.cloneNode(true);
            var marked = root.querySelectorAll('[save],[unsave]');
            for (var i = 0; i < marked.length; ++i) {
                marked[i].removeAttribute('save');
                marked[i].removeAttribute('unsave');
            }
            return root.outerHTML;
        },
        pictures: function () {
            var out = [];
            var images = document.images;
            for (var i = 0; i < images.length; ++i) {
                images[i].removeAttribute('unsave');
                out.push({ index: i, src: images[i].getAttribute('src') || '', save: images[i].getAttribute('save') || '' });
            }
            return out;
        },
        setSource: function (indices, url) {
            var images = document.images;
            for (var i = 0; i < indices.length; ++i) {
                var img = images[indices[i]];
                if (!img) continue;
                img.setAttribute('src', url);
                img.setAttribute('save', 'true');
            }
            return true;
        },
        // Scrolls to the anchor of that name (letter case ignored) and selects its text.
        scrollToAnchor: function (name) {
            var wanted = String(name).toLowerCase();
            var anchors = document.querySelectorAll('a[name], [id]');
            for (var i = 0; i < anchors.length; ++i) {
                var a = anchors[i];
                var n = (a.getAttribute('name') || a.getAttribute('id') || '').toLowerCase();
                if (n !== wanted) continue;
                a.scrollIntoView();
                var range = document.createRange();
                range.selectNodeContents(a);
                var sel = window.getSelection();
                sel.removeAllRanges();
                sel.addRange(range);
                return true;
            }
            return false;
        },
        // The document-level settings: body attributes and the declared character set.
        settings: function () {
            var b = document.body;
            var at = function (n) { return (b && b.getAttribute(n)) || ''; };
            var meta = document.querySelector('meta[charset]');
            var charset = meta ? meta.getAttribute('charset') : '';
            if (!meta) {
                var old = document.querySelector('meta[http-equiv="Content-Type" i]');
                var m = old && /charset=([^;\s]+)/i.exec(old.getAttribute('content') || '');
                charset = m ? m[1] : '';
            }
            return { background: at('background'), bgColor: at('bgcolor'), text: at('text'), link: at('link'),
                     alink: at('alink'), vlink: at('vlink'), topMargin: at('topmargin'), leftMargin: at('leftmargin'),
                     charset: charset || 'utf-8' };
        },
        applySettings: function (s) {
            var b = document.body;
            if (!b) return false;
            var names = { background: 'background', bgColor: 'bgcolor', text: 'text', link: 'link', alink: 'alink',
                          vlink: 'vlink', topMargin: 'topmargin', leftMargin: 'leftmargin' };
            for (var k in names) {
                if (!(k in s)) continue;
                if (s[k]) b.setAttribute(names[k], s[k]); else b.removeAttribute(names[k]);
            }
            if (s.charset) {
                var meta = document.querySelector('meta[charset]') ||
                           document.querySelector('meta[http-equiv="Content-Type" i]');
                if (!meta) {
                    meta = document.createElement('meta');
                    (document.head || document.documentElement).insertBefore(meta, (document.head || document.documentElement).firstChild);
                }
                meta.removeAttribute('charset');
                meta.setAttribute('http-equiv', 'Content-Type');
                meta.setAttribute('content', 'text/html; charset=' + s.charset);
            }
            return true;
        },
        clear: function () {
            if (document.body) document.body.innerHTML = '';
            return true;
        }
    };
    document.addEventListener('input', changed, true);
    document.addEventListener('cut', changed, true);
    document.addEventListener('paste', changed, true);
    document.addEventListener('drop', changed, true);
    document.addEventListener('keydown', function (e) {
        if (e.keyCode === 8 || e.keyCode === 46 || e.keyCode === 229 || (e.ctrlKey && e.keyCode === 90)) changed();
    }, true);
})();

// Editing commands and the engine's command states. The states go to the program's `commands` object
// whenever the caret or the selection moves, one report per change, sent once the event that caused it is done.
(function () {
    var z = window.zel;
    if (!z || z.exec) return;
    var reporter = null;
    var pending = false;
    function designOn() { return document.designMode === 'on'; }
    function range() {
        var sel = window.getSelection();
        return sel && sel.rangeCount ? sel.getRangeAt(0) : null;
    }
    // The element a range encloses exactly (a picture or a table clicked), else null.
    function controlOf(r) {
        if (!r || r.startContainer !== r.endContainer || r.endOffset !== r.startOffset + 1) return null;
        var n = r.startContainer.childNodes[r.startOffset];
        return n && n.nodeType === 1 && (n.tagName === 'IMG' || n.tagName === 'TABLE') ? n : null;
    }
    function html(r) {
        var box = document.createElement('div');
        box.appendChild(r.cloneContents());
        return box.innerHTML;
    }
    function closest(node, tag) {
        for (var n = node; n && n !== document; n = n.parentNode)
            if (n.nodeType === 1 && n.tagName === tag) return n;
        return null;
    }
    var blockTags = /^(P|DIV|LI|H[1-6]|PRE|ADDRESS|BLOCKQUOTE|TD|TH|BODY|UL|OL|TABLE|DL|DT|DD)$/;
    function blockOf(node) {
        for (var n = node; n && n !== document; n = n.parentNode)
            if (n.nodeType === 1 && blockTags.test(n.tagName)) return n;
        return document.body;
    }
    function q(fn, name) { try { return document[fn](name); } catch (e) { return fn === 'queryCommandValue' ? '' : false; } }
    z.exec = function (name, value) {
        if (!designOn()) return false;
        try { return document.execCommand(name, false, value === undefined ? null : value); } catch (e) { return false; }
    };
    // The states of the editing commands: s supported, e enabled, v pressed, value.
    z.states = function () {
        var on = designOn();
        var r = range();
        var some = !!r && !r.collapsed;
        var ctrl = controlOf(r);
        var out = { design: on, ctrl: ctrl ? ctrl.tagName : '', collapsed: !some, cmd: {} };
        var plain = ['FormatBlock', 'Undo', 'Redo', 'InsertImage', 'RemoveFormat', 'ForeColor', 'BackColor', 'Bold',
                     'Italic', 'Underline', 'JustifyCenter', 'JustifyRight', 'JustifyLeft', 'Indent', 'Outdent',
                     'InsertOrderedList', 'InsertUnorderedList', 'FontName', 'FontSize'];
        for (var i = 0; i < plain.length; ++i) {
            var n = plain[i];
            out.cmd[n] = { s: q('queryCommandSupported', n), e: on && q('queryCommandEnabled', n),
                           v: q('queryCommandState', n) };
        }
        out.cmd.FontName.value = q('queryCommandValue', 'FontName');
        out.cmd.FontSize.value = q('queryCommandValue', 'FontSize');
        out.cmd.FormatBlock.value = q('queryCommandValue', 'FormatBlock');
        // The clipboard and anchor commands are not queried from the engine (it answers for pages that may
        // read the clipboard only); their equivalents follow the selection.
        out.cmd.Copy = { s: true, e: some };
        out.cmd.SelectAll = { s: true, e: true };
        out.cmd.Cut = { s: true, e: on && some };
        out.cmd.Delete = { s: true, e: on && some };
        out.cmd.Paste = { s: true, e: on };
        out.cmd.CreateBookmark = { s: true, e: on };
        out.cmd.CreateLink = { s: true, e: on };
        return out;
    };
    z.report = function () {
        pending = false;
        if (reporter) reporter.states(JSON.stringify(z.states()));
    };
    function schedule() {
        if (pending || !reporter) return;
        pending = true;
        Promise.resolve().then(z.report);
    }
    z.channelReady = function (channel) {
        reporter = channel.objects.commands || null;
        schedule();
    };
    if (window.zelChannel) z.channelReady(window.zelChannel);
    document.addEventListener('selectionchange', schedule, true);
    document.addEventListener('input', schedule, true);

    // Replaces the selection by html, exactly as given, and leaves the caret after it.
    z.paste = function (text) {
        if (!designOn()) return false;
        var r = range();
        if (!r) {
            r = document.createRange();
            r.selectNodeContents(document.body);
            r.collapse(false);
        }
        var frag = r.createContextualFragment(text);
        var last = frag.lastChild;
        r.deleteContents();
        r.insertNode(frag);
        if (last) {
            var after = document.createRange();
            after.setStartAfter(last);
            after.collapse(true);
            var sel = window.getSelection();
            sel.removeAllRanges();
            sel.addRange(after);
        }
        if (bridgeChanged) bridgeChanged();
        return true;
    };
    var bridgeChanged = function () {
        document.dispatchEvent(new Event('input'));
    };
    // Letter spacing of the selection by delta pixels: a span around it changes, else a new span.
    z.letterSpacing = function (delta, openTag, changeStyle) {
        if (!designOn()) return false;
        var r = range();
        if (!r || controlOf(r)) return false;
        var span = closest(r.commonAncestorContainer, 'SPAN');
        if (span && /letter-spacing\s*:\s*-?\d/i.test(span.getAttribute('style') || '')) {
            span.setAttribute('style', changeStyle(span.getAttribute('style')));
            bridgeChanged();
            return true;
        }
        if (r.collapsed) return false;
        return z.paste(openTag + html(r) + '</span>');
    };
    // What the bookmark and link dialog starts from. A control selection becomes a text selection.
    z.anchorInfo = function () {
        var r = range();
        if (!r) return null;
        var sel = window.getSelection();
        var ctrl = controlOf(r);
        if (ctrl) {
            r = document.createRange();
            r.selectNode(ctrl);
            sel.removeAllRanges();
            sel.addRange(r);
        }
        var box = document.createElement('div');
        box.appendChild(r.cloneContents());
        var inner = box.querySelectorAll('a');
        var multi = blockOf(r.startContainer) !== blockOf(r.endContainer) ||
                    !!box.querySelector('p,div,li,h1,h2,h3,h4,h5,h6,pre,table,tr,br');
        var a = closest(r.startContainer, 'A') || closest(r.endContainer, 'A');
        if (!a && inner.length === 1) {
            var all = document.querySelectorAll('a');
            for (var i = 0; i < all.length && !a; ++i)
                if (r.intersectsNode(all[i])) a = all[i];
        }
        var names = [];
        var named = document.querySelectorAll('a[name]');
        for (var k = 0; k < named.length; ++k) names.push(named[k].getAttribute('name'));
        var info = { anchors: inner.length, multi: multi, names: names, html: box.innerHTML,
                     text: r.toString(), editing: false, name: '', href: '' };
        if (a && inner.length <= 1 && !multi) {
            r = document.createRange();
            r.selectNode(a);
            sel.removeAllRanges();
            sel.addRange(r);
            info.editing = true;
            info.name = a.getAttribute('name') || '';
            info.href = a.getAttribute('href') || '';
            info.html = a.innerHTML;
            info.text = a.textContent;
        }
        return info;
    };
    // Selects the named anchor of the document (for editing it).
    z.selectAnchor = function (name) {
        var named = document.querySelectorAll('a[name]');
        for (var i = 0; i < named.length; ++i) {
            if (named[i].getAttribute('name') !== name) continue;
            var r = document.createRange();
            r.selectNode(named[i]);
            var sel = window.getSelection();
            sel.removeAllRanges();
            sel.addRange(r);
            named[i].scrollIntoView();
            return true;
        }
        return false;
    };
    // "&Delete": the anchor the selection touches is replaced by its content.
    z.unwrapAnchor = function () {
        if (!designOn()) return false;
        var r = range();
        if (!r) return false;
        var a = closest(r.startContainer, 'A') || closest(r.endContainer, 'A');
        if (!a && controlOf(r) && controlOf(r).tagName === 'A') a = controlOf(r);
        if (!a && r.startContainer.nodeType === 1) {
            var n = r.startContainer.childNodes[r.startOffset];
            if (n && n.nodeType === 1 && n.tagName === 'A') a = n;
        }
        if (!a) return false;
        var parent = a.parentNode;
        while (a.firstChild) parent.insertBefore(a.firstChild, a);
        parent.removeChild(a);
        bridgeChanged();
        return true;
    };
    // The selected picture, for the picture property dialog.
    z.imageInfo = function () {
        var ctrl = controlOf(range());
        if (!ctrl) return { kind: range() ? 'text' : 'none' };
        if (ctrl.tagName !== 'IMG') return { kind: 'other' };
        var at = function (n) { return ctrl.getAttribute(n) || ''; };
        return { kind: 'img', outer: ctrl.outerHTML, alt: at('alt'), align: at('align'), border: at('border'),
                 hspace: at('hspace'), vspace: at('vspace') };
    };
    z.setImage = function (v) {
        var ctrl = controlOf(range());
        if (!designOn() || !ctrl || ctrl.tagName !== 'IMG') return false;
        var set = function (n, value) { if (value === '') ctrl.removeAttribute(n); else ctrl.setAttribute(n, value); };
        set('src', v.src); set('alt', v.alt); set('align', v.align); set('border', v.border);
        set('hspace', v.hspace); set('vspace', v.vspace);
        ctrl.setAttribute('save', 'false');
        bridgeChanged();
        return true;
    };
    // The selection's text, for "Set to caption".
    z.selectedText = function () {
        var sel = window.getSelection();
        return sel ? sel.toString() : '';
    };
    // What a right click hit: 'IMG', 'TABLE' or ''.
    z.hitKind = function (x, y) {
        var el = document.elementFromPoint(x, y);
        if (el && el.tagName === 'IMG') return 'IMG';
        return el && closest(el, 'TABLE') ? 'TABLE' : '';
    };
})();
